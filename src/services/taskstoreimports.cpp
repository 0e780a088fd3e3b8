// An import's record and its undo: what the task store keeps of the tasks an import made and
// changed. The rows an import replaced are kept in the database, a task at a time as JSON, so
// that an import of a hundred thousand tasks is undone without holding them in memory.
#include "taskstore.h"

#include "sqlitebusy.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>

#include <limits>

namespace {

const auto kTasks = QStringLiteral("tasks");
// Columns of a task that an undo never writes: they say which task it is.
const QStringList kIdentity { QStringLiteral("id"), QStringLiteral("user_id") };

QString quoted(QString text, QChar mark)
{
    text.replace(mark, QString(2, mark));
    return mark + text + mark;
}

// The rows of table whose key column is the task's (k.task_id), as a JSON array of objects.
QString rowsAsJson(const QString &table, const QStringList &columns, const QString &key)
{
    QStringList pairs;
    for (const QString &column : columns)
        pairs << quoted(column, u'\'') + QStringLiteral(", r.") + quoted(column, u'"');
    return QStringLiteral("json((SELECT json_group_array(json_object(%1)) FROM %2 r WHERE r.%3 = "
                          "k.task_id))")
            .arg(pairs.join(QStringLiteral(", ")), quoted(table, u'"'), key);
}

// A value as JSON gave it back: a whole number as an integer, exactly, so that it is stored as
// one.
QVariant fromJson(const QJsonValue &value)
{
    if (value.isDouble()) {
        constexpr qint64 kNotWhole = std::numeric_limits<qint64>::min();
        const qint64 whole = value.toInteger(kNotWhole);
        return whole != kNotWhole ? QVariant(whole) : QVariant(value.toDouble());
    }
    if (value.isString())
        return value.toString();
    if (value.isBool())
        return value.toBool() ? 1 : 0;
    return QVariant();
}

} // namespace

qint64 TaskStore::beginImport(qint64 userId)
{
    QSqlQuery &query =
            statement(QStringLiteral("INSERT INTO task_imports (user_id, at_ms) VALUES (?, ?)"));
    query.addBindValue(userId);
    query.addBindValue(QDateTime::currentMSecsSinceEpoch());
    const Written written = run(query);
    return written.ok ? written.insertedId : 0;
}

bool TaskStore::noteImported(qint64 importId, qint64 userId, qint64 taskId, bool created)
{
    if (m_taskColumns.isEmpty())
        m_taskColumns = columnsOf(kTasks);
    if (!created && m_keepRowsSql.isEmpty()) {
        QStringList parts { QStringLiteral("'tasks'"),
                            rowsAsJson(kTasks, m_taskColumns, QStringLiteral("id")) };
        for (const TaskSnapshot::Table &table : sideTables())
            parts << quoted(table.name, u'\'')
                  << rowsAsJson(table.name, table.columns, QStringLiteral("task_id"));
        m_keepRowsSql =
                QStringLiteral("WITH k (import_id, user_id, task_id) AS (SELECT ?, ?, ?) "
                               "INSERT OR IGNORE INTO task_import_rows (import_id, user_id, "
                               "task_id, before) SELECT import_id, user_id, task_id, "
                               "json_object(%1) FROM k")
                        .arg(parts.join(QStringLiteral(", ")));
    }
    QSqlQuery &query = statement(
            created ? QStringLiteral("INSERT OR IGNORE INTO task_import_rows (import_id, user_id, "
                                     "task_id, before) VALUES (?, ?, ?, NULL)")
                    : m_keepRowsSql);
    query.addBindValue(importId);
    query.addBindValue(userId);
    query.addBindValue(taskId);
    return run(query).ok;
}

// The task's row takes every value it had but its id and owner; each table beside it gets the
// rows it had in place of those it has. The change counter of the sync counts it as a change.
bool TaskStore::restoreImported(qint64 userId, qint64 taskId, const QByteArray &before)
{
    const QJsonObject tables = QJsonDocument::fromJson(before).object();
    const QJsonArray taskRows = tables.value(kTasks).toArray();
    if (taskRows.size() != 1) {
        m_lastError = QStringLiteral("task %1 has no earlier row").arg(taskId);
        return false;
    }
    const QJsonObject row = taskRows.first().toObject();
    QStringList assignments;
    QVariantList values;
    if (m_taskColumns.isEmpty())
        m_taskColumns = columnsOf(kTasks);
    for (const QString &column : std::as_const(m_taskColumns)) {
        if (!kIdentity.contains(column) && row.contains(column)) {
            assignments << quoted(column, u'"') + QStringLiteral(" = ?");
            values << fromJson(row.value(column));
        }
    }
    QSqlQuery &update = statement(QStringLiteral("UPDATE tasks SET %1 WHERE id = ? AND user_id = ?")
                                          .arg(assignments.join(QStringLiteral(", "))));
    for (const QVariant &value : std::as_const(values))
        update.addBindValue(value);
    update.addBindValue(taskId);
    update.addBindValue(userId);
    if (run(update).affected != 1)
        return false;

    for (const TaskSnapshot::Table &table : sideTables()) {
        if (!tables.contains(table.name))
            continue;
        QSqlQuery &clear = statement(
                QStringLiteral("DELETE FROM %1 WHERE task_id = ?").arg(quoted(table.name, u'"')));
        clear.addBindValue(taskId);
        if (!run(clear).ok)
            return false;
        const QJsonArray rows = tables.value(table.name).toArray();
        for (const QJsonValue &each : rows) {
            const QJsonObject side = each.toObject();
            QStringList columns;
            QStringList marks;
            for (const QString &column : table.columns) {
                if (side.contains(column)) {
                    columns << quoted(column, u'"');
                    marks << QStringLiteral("?");
                }
            }
            QSqlQuery &insert =
                    statement(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                      .arg(quoted(table.name, u'"'), columns.join(QLatin1Char(',')),
                                           marks.join(QLatin1Char(','))));
            for (const QString &column : table.columns) {
                if (side.contains(column))
                    insert.addBindValue(fromJson(side.value(column)));
            }
            if (!run(insert).ok)
                return false;
        }
    }
    return true;
}

// A task counts as changed here since the import when the window or the sync stamped it: the
// import cleared the stamp of every task it wrote, and an undo of a later import puts back the
// stamp it found.
TaskStore::ImportUndone TaskStore::undoImport(qint64 userId, qint64 importId, Origin origin)
{
    ImportUndone undone;
    if (!transaction(true)) {
        undone.busy = m_beginLockedOut;
        return undone;
    }
    QSqlQuery &record =
            statement(QStringLiteral("SELECT 1 FROM task_imports WHERE id = ? AND user_id = ?"));
    record.addBindValue(importId);
    record.addBindValue(userId);
    bool ok = record.exec() && record.next();
    m_lastError = ok ? QString() : QStringLiteral("the import's record is gone");
    record.finish();
    QSqlQuery list(database());
    list.setForwardOnly(true);
    list.prepare(QStringLiteral(
            "SELECT r.task_id, r.before IS NULL, t.id IS NOT NULL, c.task_id IS NOT NULL\n"
            "FROM task_import_rows r\n"
            "LEFT JOIN tasks t ON t.id = r.task_id AND t.user_id = r.user_id\n"
            "LEFT JOIN task_changed_here c ON c.task_id = r.task_id\n"
            "WHERE r.import_id = ? AND r.user_id = ?"));
    list.addBindValue(importId);
    list.addBindValue(userId);
    if (ok && !list.exec()) {
        m_lastError = list.lastError().text();
        ok = false;
    }
    QList<qint64> remove;
    QList<qint64> restore;
    while (ok && list.next()) {
        const qint64 id = list.value(0).toLongLong();
        const bool made = list.value(1).toBool();
        const bool there = list.value(2).toBool();
        const bool changed = list.value(3).toBool();
        if (there && !changed)
            (made ? remove : restore).append(id);
        else if (there || !made)
            ++undone.kept; // a task the import made and that was deleted since is gone anyway
    }
    list.finish();

    QSqlQuery &erase = statement(QStringLiteral("DELETE FROM tasks WHERE id = ? AND user_id = ?"));
    for (int i = 0; ok && i < remove.size(); ++i) {
        erase.addBindValue(remove.at(i));
        erase.addBindValue(userId);
        ok = run(erase).ok;
    }
    // The rows beside them go too, as they were not there before the import.
    for (const TaskSnapshot::Table &table : sideTables()) {
        if (!ok || remove.isEmpty())
            break;
        QSqlQuery &drop = statement(
                QStringLiteral("DELETE FROM %1 WHERE task_id IN (SELECT task_id FROM "
                               "task_import_rows WHERE import_id = ? AND before IS NULL) AND NOT "
                               "EXISTS (SELECT 1 FROM tasks t WHERE t.id = %1.task_id)")
                        .arg(quoted(table.name, u'"')));
        drop.addBindValue(importId);
        ok = run(drop).ok;
    }
    QSqlQuery &before = statement(QStringLiteral(
            "SELECT before FROM task_import_rows WHERE import_id = ? AND task_id = ?"));
    for (int i = 0; ok && i < restore.size(); ++i) {
        before.addBindValue(importId);
        before.addBindValue(restore.at(i));
        ok = before.exec() && before.next();
        const QByteArray rows = ok ? before.value(0).toByteArray() : QByteArray();
        if (!ok)
            m_lastError = before.lastError().text();
        before.finish();
        ok = ok && restoreImported(userId, restore.at(i), rows);
    }
    for (const QString &sql : { QStringLiteral("DELETE FROM task_import_rows WHERE import_id = ?"),
                                QStringLiteral("DELETE FROM task_imports WHERE id = ?") }) {
        QSqlQuery &drop = statement(sql);
        drop.addBindValue(importId);
        ok = ok && run(drop).ok;
    }
    if (!ok || !commitWith(origin, { {}, restore, remove })) {
        undone.busy = SqliteBusy::lockedOut(database().lastError());
        rollback();
        return { false, undone.busy, 0, 0, 0 };
    }
    undone.ok = true;
    undone.removed = int(remove.size());
    undone.restored = int(restore.size());
    return undone;
}

void TaskStore::forgetImports(qint64 userId, const QList<qint64> &kept)
{
    QSqlQuery imports(database());
    imports.prepare(QStringLiteral("SELECT id FROM task_imports WHERE user_id = ?"));
    imports.addBindValue(userId);
    QList<qint64> gone;
    if (imports.exec()) {
        while (imports.next()) {
            if (!kept.contains(imports.value(0).toLongLong()))
                gone << imports.value(0).toLongLong();
        }
    }
    imports.finish();
    for (const qint64 id : std::as_const(gone)) {
        for (const QString &sql :
             { QStringLiteral("DELETE FROM task_import_rows WHERE import_id = ?"),
               QStringLiteral("DELETE FROM task_imports WHERE id = ?") }) {
            QSqlQuery &drop = statement(sql);
            drop.addBindValue(id);
            run(drop);
        }
    }
}
