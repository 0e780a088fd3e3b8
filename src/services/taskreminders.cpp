// Each task's own reminder, beside the tasks table: part of the task store.
#include "taskstore.h"

#include "icalalarm.h"
#include "icalnames.h"

#include <QSqlQuery>
#include <QVariant>

namespace {

QString storeReminderSql()
{
    return QStringLiteral("INSERT OR REPLACE INTO task_reminders (task_id, user_id, lead_minutes) "
                          "SELECT id, user_id, :lead FROM tasks WHERE id = :id AND user_id = :uid");
}

QString removeReminderSql()
{
    return QStringLiteral("DELETE FROM task_reminders WHERE task_id = :id AND user_id = :uid");
}

// Reads the few reminders, each with a lookup of its task.
QString forgetRemindersSql()
{
    return QStringLiteral("DELETE FROM task_reminders WHERE user_id = :uid AND NOT EXISTS "
                          "(SELECT 1 FROM tasks WHERE tasks.id = task_reminders.task_id)");
}

QString reminderOfSql()
{
    return QStringLiteral(
            "SELECT lead_minutes FROM task_reminders WHERE task_id = :id AND user_id = :uid");
}

} // namespace

bool TaskStore::storeReminder(qint64 userId, qint64 taskId, std::optional<int> lead, Origin origin)
{
    if (lead && *lead < 0)
        lead = kNoReminder;
    if (reminderOf(userId, taskId) == lead)
        return true;
    QSqlQuery &query = statement(lead ? storeReminderSql() : removeReminderSql());
    query.bindValue(QStringLiteral(":id"), taskId);
    query.bindValue(QStringLiteral(":uid"), userId);
    if (lead)
        query.bindValue(QStringLiteral(":lead"), *lead);
    const Written written = run(query);
    // A task of another account, or none, gets nothing.
    if (!written.ok || (lead && written.affected == 0))
        return false;
    noteChanged(taskId, origin);
    TaskChanges changes;
    changes.updated.append(taskId);
    announce(origin, changes);
    return true;
}

std::optional<int> TaskStore::reminderOf(qint64 userId, qint64 taskId)
{
    QSqlQuery &query = statement(reminderOfSql());
    query.bindValue(QStringLiteral(":id"), taskId);
    query.bindValue(QStringLiteral(":uid"), userId);
    std::optional<int> lead;
    if (query.exec() && query.next())
        lead = query.value(0).toInt();
    query.finish();
    return lead;
}

// This program's own alarm says what the task's reminder was when it was written, and an alarm
// another program keeps unchanged says nothing new: a reminder chosen here since stays.
bool TaskStore::reminderFromCalendar(qint64 userId, qint64 taskId, const QString &before,
                                     const QString &calendar, const QDateTime &due)
{
    const auto alarmIn = [&due](const QString &text) {
        return IcalNames::mentions(text, QLatin1String("VALARM"))
                       ? IcalAlarm::leadIn(text.toUtf8(), due)
                       : std::nullopt;
    };
    const std::optional<int> now = alarmIn(calendar);
    if (now == alarmIn(before))
        return true;
    // The write of the task or its text that brought the alarm announces the change.
    QSqlQuery &query = statement(now ? storeReminderSql() : removeReminderSql());
    query.bindValue(QStringLiteral(":id"), taskId);
    query.bindValue(QStringLiteral(":uid"), userId);
    if (now)
        query.bindValue(QStringLiteral(":lead"), *now);
    return run(query).ok;
}

void TaskStore::forgetReminders(qint64 userId, qint64 taskId)
{
    QSqlQuery &query = statement(taskId > 0 ? removeReminderSql() : forgetRemindersSql());
    if (taskId > 0)
        query.bindValue(QStringLiteral(":id"), taskId);
    query.bindValue(QStringLiteral(":uid"), userId);
    run(query);
}
