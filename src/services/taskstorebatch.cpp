// The new tasks of an import written many rows to a statement: part of the task store.
#include "taskstore.h"

#include "icalnames.h"
#include "storedtime.h"
#include "taskdetailssql.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Rows written by one statement; well below SQLite's limit of bound values.
constexpr qsizetype kRowsPerStatement = 100;

QVariant textOrNull(const QString &text)
{
    return text.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(text);
}

// head followed by rows times row, comma-separated.
QString rowsSql(const QByteArray &head, const QByteArray &row, qsizetype rows)
{
    QByteArray sql = head;
    for (qsizetype i = 0; i < rows; ++i) {
        if (i > 0)
            sql += ',';
        sql += row;
    }
    return QString::fromLatin1(sql);
}

} // namespace

// Each task takes the next id the tasks table hands out, given explicitly: the transaction
// holds the file's write lock, so no other writer hands one out meanwhile. A task without a
// creation time of its own takes the column default, as insertTask leaves it.
bool TaskStore::insertNewImported(qint64 userId, qint64 importId, QList<NewImportedTask> &tasks)
{
    if (tasks.isEmpty())
        return true;
    if (!m_inTransaction) {
        m_lastError = QStringLiteral("new tasks are inserted in batches only in a transaction");
        return false;
    }
    QSqlQuery &last = statement(
            QStringLiteral("SELECT max(ifnull((SELECT seq FROM sqlite_sequence WHERE name = "
                           "'tasks'), 0), ifnull((SELECT max(id) FROM tasks), 0))"));
    if (!last.exec() || !last.next()) {
        m_lastError = last.lastError().text();
        return false;
    }
    qint64 id = last.value(0).toLongLong();
    last.finish();
    for (NewImportedTask &task : tasks)
        task.id = ++id;

    bool ok = true;
    const QByteArray user = QByteArray::number(userId);
    for (qsizetype from = 0; ok && from < tasks.size(); from += kRowsPerStatement) {
        const qsizetype to = std::min(tasks.size(), from + kRowsPerStatement);
        const qsizetype rows = to - from;
        // The owner is written into the statements: a number the store was given.
        QSqlQuery &insert = statement(
                rowsSql("INSERT INTO tasks (id, user_id, name, active, expire_at, expire_at_epoch, "
                        "create_at) VALUES ",
                        "(?, " + user + ", ?, ?, ?, ?, ifnull(?, CURRENT_TIMESTAMP))", rows));
        QSqlQuery &uids = statement(rowsSql(
                "INSERT OR REPLACE INTO task_uids (task_id, user_id, uid, calendar) VALUES ",
                "(?, " + user + ", ?, ?)", rows));
        QSqlQuery &noted = statement(QStringLiteral(
                "INSERT OR IGNORE INTO task_import_rows (import_id, user_id, task_id, before) "
                "SELECT ?, user_id, id, NULL FROM tasks WHERE id BETWEEN ? AND ? ORDER BY id"));
        noted.addBindValue(importId);
        noted.addBindValue(tasks.at(from).id);
        noted.addBindValue(tasks.at(to - 1).id);
        QList<const NewImportedTask *> detailed;
        qsizetype tagged = 0;
        for (qsizetype i = from; i < to; ++i) {
            const NewImportedTask &task = tasks.at(i);
            insert.addBindValue(task.id);
            insert.addBindValue(task.values.name);
            insert.addBindValue(task.values.done ? 1 : 0);
            insert.addBindValue(StoredTime::dueText(task.values.due));
            insert.addBindValue(StoredTime::dueEpoch(task.values.due));
            insert.addBindValue(StoredTime::createdText(task.created));
            uids.addBindValue(task.id);
            uids.addBindValue(task.uid);
            uids.addBindValue(textOrNull(task.calendar));
            if (task.details && !task.details->isEmpty()) {
                detailed.append(&task);
                tagged += task.details->tags.size();
            }
        }
        ok = run(insert).ok && run(uids).ok && run(noted).ok;
        if (ok && !detailed.isEmpty()) {
            QSqlQuery &details = statement(rowsSql("INSERT OR REPLACE INTO task_details (task_id, "
                                                   "user_id, notes, priority, priority_raw, tags) "
                                                   "VALUES ",
                                                   "(?, ?, ?, ?, ?, ?)", detailed.size()));
            for (const NewImportedTask *task : std::as_const(detailed)) {
                const TaskDetails &d = *task->details;
                details.addBindValue(task->id);
                details.addBindValue(userId);
                details.addBindValue(textOrNull(d.notes));
                details.addBindValue(d.priority);
                details.addBindValue(d.priorityRaw >= 0 ? QVariant(d.priorityRaw)
                                                        : QVariant(QMetaType::fromType<int>()));
                details.addBindValue(textOrNull(d.tags.join(QLatin1Char(','))));
            }
            ok = run(details).ok;
        }
        if (ok && tagged > 0) {
            QSqlQuery &tags = statement(
                    rowsSql("INSERT OR IGNORE INTO task_tags (user_id, tag, task_id) VALUES ",
                            "(?, ?, ?)", tagged));
            for (const NewImportedTask *task : std::as_const(detailed)) {
                for (const QString &tag : task->details->tags) {
                    tags.addBindValue(userId);
                    tags.addBindValue(tag);
                    tags.addBindValue(task->id);
                }
            }
            ok = run(tags).ok;
        }
        // The rule and the reminder a task's text brings, each as storeNewImported takes it.
        // A new task had no reminder before: a text without an alarm changes nothing.
        for (qsizetype i = from; ok && i < to; ++i) {
            const NewImportedTask &task = tasks.at(i);
            ok = !IcalNames::mentions(task.calendar, QLatin1String("RRULE"))
                 || repeatFromCalendar(userId, task.id, task.calendar);
            if (ok && IcalNames::mentions(task.calendar, QLatin1String("VALARM"))) {
                const QDateTime kept = task.values.due.isValid() ? QDateTime::fromSecsSinceEpoch(
                                               task.values.due.toSecsSinceEpoch(), Qt::UTC)
                                                                 : QDateTime();
                ok = reminderFromCalendar(userId, task.id, QString(), task.calendar, kept);
            }
        }
    }
    if (!ok)
        return false;
    TaskChanges changes;
    for (const NewImportedTask &task : std::as_const(tasks)) {
        changes.created.append(task.id);
        if (task.details)
            changes.updated.append(task.id);
    }
    announce(Origin::Import, changes);
    return true;
}
