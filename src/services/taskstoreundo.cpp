// Tasks as they were and written back: what an undo needs of the task store.
#include "taskstore.h"

#include "sqlitebusy.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {

const auto kTasks = QStringLiteral("tasks");
// Tables with a task_id that are not the task's own rows, and that an undo leaves as they are:
// what the sync last learnt of the server, the change counter its triggers keep (an undo is a
// change of its own, counted anew), and the imports' record for their undo.
const QStringList kNotTheTasks { QStringLiteral("sync_items"), QStringLiteral("task_changes"),
                                 QStringLiteral("task_import_rows") };
// Which UID a task goes by: not the task's fields, so an undone change leaves it to the store's
// own bookkeeping. When it was changed here goes back too: an undone change leaves the task as
// if it had never been made, to an import (which keeps the tasks changed here since) as well.
const QStringList kBookkeeping { QStringLiteral("task_uids") };
// Columns an undone change leaves as they are.
const QStringList kIdentity { QStringLiteral("id"), QStringLiteral("user_id"),
                              QStringLiteral("create_at") };

QString placeholders(int count)
{
    QStringList marks;
    for (int i = 0; i < count; ++i)
        marks.append(QStringLiteral("?"));
    return marks.join(QLatin1Char(','));
}

} // namespace

QStringList TaskStore::columnsOf(const QString &table) const
{
    QStringList columns;
    QSqlQuery query(database());
    if (query.exec(QStringLiteral("PRAGMA table_info(\"%1\")").arg(table))) {
        while (query.next())
            columns.append(query.value(1).toString());
    }
    return columns;
}

QList<qint64> TaskSnapshot::taskIds() const
{
    QList<qint64> ids;
    for (int i = 0; i < taskCount(); ++i)
        ids.append(taskValue(i, QStringLiteral("id")).toLongLong());
    return ids;
}

QVariant TaskSnapshot::taskValue(int i, const QString &column) const
{
    const Table &tasks = tables.first();
    const qsizetype at = tasks.columns.indexOf(column);
    return at < 0 ? QVariant() : tasks.rows.at(i).value(at);
}

// Every table with a task_id column but those above, read once: tables added later by a schema
// step come along without being named here.
const QList<TaskSnapshot::Table> &TaskStore::sideTables()
{
    if (m_sideTablesRead)
        return m_sideTables;
    QSqlQuery query(database());
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name "
                                   "NOT LIKE 'sqlite%' AND sql NOT LIKE 'CREATE VIRTUAL%'")))
        return m_sideTables;
    QStringList names;
    while (query.next())
        names.append(query.value(0).toString());
    for (const QString &name : std::as_const(names)) {
        const QStringList columns = columnsOf(name);
        if (name != kTasks && !kNotTheTasks.contains(name)
            && columns.contains(QStringLiteral("task_id")))
            m_sideTables.append({ name, columns, {} });
    }
    m_sideTablesRead = true;
    return m_sideTables;
}

TaskSnapshot TaskStore::snapshot(qint64 userId, const QList<qint64> &ids, bool doneOnly)
{
    TaskSnapshot snapshot;
    snapshot.userId = userId;
    // A file another program holds is found out by one statement, and nothing more is tried.
    QSqlQuery probe(database());
    if (!probe.exec(QStringLiteral("PRAGMA table_info(tasks)"))) {
        m_lastError = probe.lastError().text();
        snapshot.busy = SqliteBusy::lockedOut(probe.lastError());
        return snapshot;
    }
    probe.finish();
    snapshot.tables.append({ kTasks, columnsOf(kTasks), {} });
    snapshot.tables += sideTables();
    const QString doneTasks =
            QStringLiteral("SELECT id FROM tasks WHERE user_id = :uid AND active = 1");
    for (TaskSnapshot::Table &table : snapshot.tables) {
        const QString key = table.name == kTasks ? QStringLiteral("id") : QStringLiteral("task_id");
        QString sql = QStringLiteral("SELECT \"%1\" FROM \"%2\" WHERE ")
                              .arg(table.columns.join(QStringLiteral("\",\"")), table.name);
        sql += doneOnly ? key + QStringLiteral(" IN (") + doneTasks + QLatin1Char(')')
                        : key
                                  + QStringLiteral(" = :id AND :uid = (SELECT user_id FROM tasks "
                                                   "WHERE id = :id2)");
        QSqlQuery query(database());
        query.prepare(sql);
        const QList<qint64> each = doneOnly ? QList<qint64> { 0 } : ids;
        for (const qint64 id : each) {
            query.bindValue(QStringLiteral(":uid"), userId);
            if (!doneOnly) {
                query.bindValue(QStringLiteral(":id"), id);
                query.bindValue(QStringLiteral(":id2"), id);
            }
            if (!query.exec()) {
                m_lastError = query.lastError().text();
                TaskSnapshot failed;
                failed.busy = SqliteBusy::lockedOut(query.lastError());
                return failed;
            }
            while (query.next()) {
                QVariantList row;
                for (int i = 0; i < table.columns.size(); ++i)
                    row.append(query.value(i));
                table.rows.append(row);
            }
        }
    }
    return snapshot;
}

bool TaskStore::insertRow(const TaskSnapshot::Table &table, const QVariantList &row,
                          bool onlyMissing)
{
    QString sql = QStringLiteral("INSERT INTO \"%1\" (\"%2\") ")
                          .arg(table.name, table.columns.join(QStringLiteral("\",\"")));
    sql += onlyMissing ? QStringLiteral("SELECT %1 WHERE NOT EXISTS (SELECT 1 FROM \"%2\" WHERE "
                                        "task_id = ?)")
                                 .arg(placeholders(int(table.columns.size())), table.name)
                       : QStringLiteral("VALUES (%1)").arg(placeholders(int(table.columns.size())));
    QSqlQuery query(database());
    query.prepare(sql);
    for (const QVariant &value : row)
        query.addBindValue(value);
    if (onlyMissing)
        query.addBindValue(row.value(table.columns.indexOf(QStringLiteral("task_id"))));
    if (query.exec())
        return true;
    m_lastError = query.lastError().text();
    return false;
}

// The rows beside a deleted task that the store keeps (its UID, its stamp) are there still and
// stay; those it drops with the task (its rule, its snoozes) come back.
TaskStore::Written TaskStore::restoreDeleted(const TaskSnapshot &snapshot, Origin origin)
{
    Written written;
    if (snapshot.taskCount() == 0 || !transaction())
        return written;
    bool ok = true;
    for (const TaskSnapshot::Table &table : snapshot.tables) {
        for (const QVariantList &row : table.rows)
            ok = ok && insertRow(table, row, table.name != kTasks);
    }
    if (!ok || !commitWith(origin, { snapshot.taskIds(), {}, {} })) {
        rollback();
        return written;
    }
    written.ok = true;
    written.affected = snapshot.taskCount();
    return written;
}

TaskStore::Written TaskStore::restoreChanged(const TaskSnapshot &snapshot,
                                             const QList<qint64> &created, Origin origin)
{
    Written written;
    if (snapshot.taskCount() == 0 || !transaction())
        return written;
    bool ok = true;
    // A task the command made was never there: its rows beside it go with it.
    for (const qint64 id : created) {
        ok = ok && deleteTask(snapshot.userId, id, origin).ok;
        for (const TaskSnapshot::Table &table : sideTables()) {
            QSqlQuery &drop = statement(
                    QStringLiteral("DELETE FROM \"%1\" WHERE task_id = ?").arg(table.name));
            drop.addBindValue(id);
            ok = ok && run(drop).ok;
        }
    }

    const TaskSnapshot::Table &tasks = snapshot.tables.first();
    QStringList assignments;
    QList<int> assigned;
    for (int i = 0; i < tasks.columns.size(); ++i) {
        if (!kIdentity.contains(tasks.columns.at(i))) {
            assignments.append(QStringLiteral("\"%1\" = ?").arg(tasks.columns.at(i)));
            assigned.append(i);
        }
    }
    QSqlQuery update(database());
    update.prepare(QStringLiteral("UPDATE tasks SET %1 WHERE id = ? AND user_id = ?")
                           .arg(assignments.join(QLatin1Char(','))));
    const QList<qint64> ids = snapshot.taskIds();
    for (int i = 0; ok && i < ids.size(); ++i) {
        for (const int column : std::as_const(assigned))
            update.addBindValue(tasks.rows.at(i).at(column));
        update.addBindValue(ids.at(i));
        update.addBindValue(snapshot.userId);
        ok = update.exec() && update.numRowsAffected() > 0;
        if (ok)
            noteChanged(ids.at(i), origin);
    }
    for (const TaskSnapshot::Table &table : snapshot.tables.mid(1)) {
        if (!ok || kBookkeeping.contains(table.name))
            continue;
        QSqlQuery clear(database());
        clear.prepare(QStringLiteral("DELETE FROM \"%1\" WHERE task_id = ?").arg(table.name));
        for (const qint64 id : ids) {
            clear.addBindValue(id);
            ok = ok && clear.exec();
        }
        for (const QVariantList &row : table.rows)
            ok = ok && insertRow(table, row, false);
    }
    if (!ok || !commitWith(origin, { {}, ids, {} })) {
        rollback();
        return written;
    }
    written.ok = true;
    written.affected = int(ids.size());
    return written;
}

void TaskStore::releaseDeletions(const QList<qint64> &ids)
{
    bool released = false;
    for (const qint64 id : ids)
        released = m_heldDeletions.remove(id) || released;
    if (released)
        emit deletionsReleased();
}
