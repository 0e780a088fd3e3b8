#pragma once

#include "duetask.h"
#include "statementcache.h"

#include <QList>
#include <QVariantMap>

#include <functional>
#include <optional>

class AuthService;
class DbManager;
class QSqlQuery;

// The signed-in account's pending tasks that fall due, as the reminders and the notice of
// missed tasks read them.
class DueTasks
{
public:
    DueTasks(DbManager *db, AuthService *auth);

    // Walks the pending tasks of the signed-in user due from fromEpoch to untilEpoch (seconds,
    // both included), earliest first (ties by id), until visit returns false; withReminder
    // leaves out the tasks set to no reminder.
    void visitDueTasks(qint64 fromEpoch, qint64 untilEpoch,
                       const std::function<bool(const DueTask &)> &visit,
                       bool withReminder = false);
    // The pending tasks whose reminder has come (duereminders.cpp): due from fromEpoch up to
    // nowEpoch and the task's lead time, defaultLead minutes for a task without one of its own;
    // never a task without a reminder. Earliest due first, ties by id.
    QList<DueTask> remindersDue(qint64 fromEpoch, qint64 nowEpoch, int defaultLead);
    // Every such task due within the next withinMinutes minutes.
    QList<DueTask> dueTasks(int withinMinutes);
    // The earliest of them as QML reads it; empty when there is none.
    QVariantMap nextDueTask(int withinMinutes);

    // A pending task of the signed-in user with a due time, or none.
    std::optional<DueTask> pendingTask(qint64 taskId);

    // Reminders put off (duesnoozes.cpp): the task's reminder for the due time dueEpoch comes
    // again at untilEpoch, once; the due time stays as it is.
    bool snooze(qint64 taskId, qint64 dueEpoch, qint64 untilEpoch);
    // When the reminder of the task for that due time comes again; -1 when it is not put off.
    qint64 snoozedUntil(qint64 taskId, qint64 dueEpoch);
    // The pending tasks whose reminder was put off until nowEpoch or earlier, for the due time
    // they still have; the put-off reminders of every task of the account that ended are
    // forgotten, also those of tasks done, deleted or moved meanwhile.
    QList<DueTask> takeEndedSnoozes(qint64 nowEpoch);

private:
    bool ready() const;
    QSqlQuery &statement(const QString &sql);

    DbManager *m_db = nullptr;
    AuthService *m_auth = nullptr;
    StatementCache m_statements;
};
