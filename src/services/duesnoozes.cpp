#include "authservice.h"
#include "duetasks.h"
#include "storedtime.h"

#include <QSqlQuery>
#include <QVariant>

std::optional<DueTask> DueTasks::pendingTask(qint64 taskId)
{
    if (!ready())
        return std::nullopt;
    QSqlQuery &query = statement(QStringLiteral(
            "SELECT id, name, expire_at_epoch FROM tasks WHERE id = :id AND user_id = :uid "
            "AND active = 0 AND expire_at_epoch IS NOT NULL"));
    query.bindValue(QStringLiteral(":id"), taskId);
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    std::optional<DueTask> task;
    if (query.exec() && query.next()) {
        const qint64 epoch = query.value(2).toLongLong();
        task = DueTask { query.value(0).toLongLong(), query.value(1).toString(),
                         StoredTime::reminderText(epoch), epoch };
    }
    query.finish();
    return task;
}

bool DueTasks::snooze(qint64 taskId, qint64 dueEpoch, qint64 untilEpoch)
{
    if (!pendingTask(taskId))
        return false;
    QSqlQuery &query = statement(
            QStringLiteral("INSERT OR REPLACE INTO task_snoozes (task_id, due_epoch, until_epoch) "
                           "VALUES (:id, :due, :until)"));
    query.bindValue(QStringLiteral(":id"), taskId);
    query.bindValue(QStringLiteral(":due"), dueEpoch);
    query.bindValue(QStringLiteral(":until"), untilEpoch);
    const bool ok = query.exec();
    query.finish();
    return ok;
}

qint64 DueTasks::snoozedUntil(qint64 taskId, qint64 dueEpoch)
{
    if (!ready())
        return -1;
    QSqlQuery &query = statement(QStringLiteral(
            "SELECT until_epoch FROM task_snoozes WHERE task_id = :id AND due_epoch = :due"));
    query.bindValue(QStringLiteral(":id"), taskId);
    query.bindValue(QStringLiteral(":due"), dueEpoch);
    const qint64 until = query.exec() && query.next() ? query.value(0).toLongLong() : -1;
    query.finish();
    return until;
}

QList<DueTask> DueTasks::takeEndedSnoozes(qint64 nowEpoch)
{
    QList<DueTask> ended;
    if (!ready())
        return ended;
    // The few reminders put off first (CROSS JOIN keeps that order), each task by its key: never
    // a walk over the account's tasks.
    QSqlQuery &query = statement(QStringLiteral(
            "SELECT t.id, t.name, t.expire_at_epoch, s.due_epoch, r.lead_minutes "
            "FROM task_snoozes s CROSS JOIN tasks t ON t.id = s.task_id "
            "LEFT JOIN task_reminders r ON r.task_id = t.id "
            "WHERE t.user_id = :uid AND s.until_epoch <= :now ORDER BY s.until_epoch, t.id"));
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    query.bindValue(QStringLiteral(":now"), nowEpoch);
    QList<qint64> taken;
    if (query.exec()) {
        while (query.next()) {
            const qint64 id = query.value(0).toLongLong();
            taken.append(id);
            // Only a reminder of the due time it was put off for comes again, and none of a
            // task whose reminder was turned off since.
            const QVariant due = query.value(2);
            const bool off = !query.value(4).isNull() && query.value(4).toInt() < 0;
            if (!due.isNull() && due.toLongLong() == query.value(3).toLongLong() && !off)
                ended.append(DueTask { id, query.value(1).toString(),
                                       StoredTime::reminderText(due.toLongLong()),
                                       due.toLongLong() });
        }
    }
    query.finish();
    // Done tasks are not pending: their reminders are dropped with the rest.
    QList<DueTask> pending;
    for (const DueTask &task : ended) {
        if (pendingTask(task.id))
            pending.append(task);
    }
    QSqlQuery &forget = statement(QStringLiteral("DELETE FROM task_snoozes WHERE task_id = :id"));
    for (qint64 id : taken) {
        forget.bindValue(QStringLiteral(":id"), id);
        forget.exec();
    }
    forget.finish();
    // Rows of tasks deleted meanwhile have no task to join: they go too.
    QSqlQuery &orphans =
            statement(QStringLiteral("DELETE FROM task_snoozes WHERE until_epoch <= :now "
                                     "AND task_id NOT IN (SELECT id FROM tasks)"));
    orphans.bindValue(QStringLiteral(":now"), nowEpoch);
    orphans.exec();
    orphans.finish();
    return pending;
}
