#include "icaltaskstore.h"

#include "icalzonestore.h"
#include "sqlitebusy.h"
#include "storedtime.h"
#include "taskdetailssql.h"
#include "taskstore.h"

#include <QLoggingCategory>
#include <QSqlError>
#include <QTimeZone>
#include <QVariant>

#include <limits>
#include <utility>

Q_LOGGING_CATEGORY(lcIcalStore, "tarvik.ical.store", QtCriticalMsg)

IcalTaskStore::IcalTaskStore(TaskStore *tasks)
    : m_tasks(tasks)
    , m_database(tasks->database())
    , m_find(m_database)
{
}

bool IcalTaskStore::run(QSqlQuery &query)
{
    if (query.exec())
        return true;
    m_lastError = query.lastError().text();
    m_lockedOut = SqliteBusy::lockedOut(query.lastError());
    qCWarning(lcIcalStore) << "statement failed:" << m_lastError;
    return false;
}

bool IcalTaskStore::prepare()
{
    const bool prepared = m_find.prepare(
            QStringLiteral("SELECT u.task_id, t.name, t.active, t.expire_at, t.expire_at_epoch,\n"
                           "       c.changed_ms\n"
                           "FROM task_uids u\n"
                           "JOIN tasks t ON t.id = u.task_id AND t.user_id = u.user_id\n"
                           "LEFT JOIN task_changed_here c ON c.task_id = u.task_id\n"
                           "WHERE u.user_id = :uid AND u.uid = :ical_uid"));
    if (!prepared) {
        m_lastError = m_database.lastError().text();
        qCWarning(lcIcalStore) << "cannot prepare:" << m_lastError;
    }
    return prepared;
}

// The due time as the list reads it: the epoch, or the text of a release before it.
static QDateTime storedDue(const QVariant &text, const QVariant &epoch)
{
    return epoch.isNull() ? StoredTime::read(text)
                          : QDateTime::fromSecsSinceEpoch(epoch.toLongLong(), QTimeZone::utc());
}

bool IcalTaskStore::readTasks(qint64 userId, QList<IcalTask> &tasks)
{
    tasks.clear();
    return readTasks(userId, std::numeric_limits<qsizetype>::max(),
                     [&tasks](QList<IcalTask> &&slice) {
                         tasks = std::move(slice);
                         return true;
                     });
}

bool IcalTaskStore::readTasks(qint64 userId, qsizetype slice,
                              const std::function<bool(QList<IcalTask> &&)> &take)
{
    QSqlQuery query(m_database);
    query.prepare(QStringLiteral(
            "SELECT t.id, t.name, t.active, t.expire_at, t.expire_at_epoch, t.create_at, u.uid,\n"
            "       CAST(u.calendar AS BLOB), r.rrule, r.from_completion, r.zone, d.notes, "
            "d.priority,\n"
            "       d.priority_raw, d.tags, d.task_id IS NOT NULL, m.lead_minutes\n"
            "FROM tasks t LEFT JOIN task_uids u ON u.task_id = t.id AND u.user_id = t.user_id\n"
            "LEFT JOIN task_repeat r ON r.task_id = t.id AND r.user_id = t.user_id\n"
            "LEFT JOIN task_details d ON d.task_id = t.id\n"
            "LEFT JOIN task_reminders m ON m.task_id = t.id\n"
            "WHERE t.user_id = :uid\n"
            "ORDER BY t.create_at, t.id"));
    query.bindValue(QStringLiteral(":uid"), userId);
    query.setForwardOnly(true);
    if (!run(query))
        return false;
    QList<IcalTask> tasks;
    const IcalZoneStore::Zones zones = IcalZoneStore::read(m_database, userId);
    while (query.next()) {
        IcalTask task;
        task.id = query.value(0).toLongLong();
        task.name = query.value(1).toString();
        task.done = query.value(2).toBool();
        task.due = storedDue(query.value(3), query.value(4));
        task.created = StoredTime::readUtc(query.value(5));
        task.uid = query.value(6).toString();
        // As its UTF-8 bytes (a blob), not turned into UTF-16 and back.
        task.calendar = IcalZoneStore::withZones(query.value(7).toByteArray(), zones, true);
        if (!query.value(8).isNull())
            task.repeat = Recurrence::Rule { query.value(8).toString().toUtf8(),
                                             query.value(9).toBool(),
                                             query.value(10).toString().toUtf8(),
                                             {} };
        task.details = TaskDetailsSql::read(query, 11);
        // Without a row here, the details are those of the kept text, if any.
        task.detailsKnown = query.value(15).toBool() || task.calendar.isEmpty();
        // The task's own reminder; the others get the account's as they are written.
        if (!query.value(16).isNull())
            task.alarmLead = query.value(16).toInt();
        tasks.append(std::move(task));
        if (tasks.size() >= slice && !take(std::exchange(tasks, {})))
            return true;
    }
    return tasks.isEmpty() || take(std::move(tasks));
}

IcalTaskStore::Found IcalTaskStore::findTask(qint64 userId, const QString &uid)
{
    Found found;
    if (m_onlyImported)
        return found;
    m_find.bindValue(QStringLiteral(":uid"), userId);
    m_find.bindValue(QStringLiteral(":ical_uid"), uid);
    if (!run(m_find)) {
        found.id = -1;
        return found;
    }
    if (m_find.next()) {
        found.id = m_find.value(0).toLongLong();
        found.fields = { m_find.value(1).toString(), m_find.value(2).toBool(),
                         storedDue(m_find.value(3), m_find.value(4)) };
        if (!m_find.value(5).isNull())
            found.changedMs = m_find.value(5).toLongLong();
    }
    m_find.finish();
    return found;
}

bool IcalTaskStore::insertTask(qint64 userId, IcalTask &task)
{
    const TaskStore::Written written = m_tasks->insertTask(
            userId, { task.name, task.done, task.due }, TaskStore::Origin::Import, task.created);
    if (!written.ok)
        return failed();
    task.id = written.insertedId;
    if (task.id > 0 && m_newStartClean)
        return m_tasks->storeNewImported(userId, task.id, task.uid,
                                         QString::fromUtf8(task.calendar), task.due,
                                         task.detailsKnown ? &task.details : nullptr)
               || failed();
    return task.id > 0 && storeUid(userId, task) && storeDetails(userId, task);
}

bool IcalTaskStore::insertTasks(qint64 userId, qint64 importId, const QList<IcalTask *> &tasks)
{
    QList<NewImportedTask> rows;
    rows.reserve(tasks.size());
    for (const IcalTask *task : tasks)
        rows.append({ { task->name, task->done, task->due },
                      task->created,
                      task->uid,
                      QString::fromUtf8(task->calendar),
                      task->detailsKnown ? &task->details : nullptr });
    if (!m_tasks->insertNewImported(userId, importId, rows))
        return failed();
    for (qsizetype i = 0; i < tasks.size(); ++i)
        tasks.at(i)->id = rows.at(i).id;
    return true;
}

bool IcalTaskStore::beginInserts(qint64 userId)
{
    if (!m_tasks->newTasksStartClean(m_newStartClean))
        return failed();
    QSqlQuery query(m_database);
    query.prepare(QStringLiteral("PRAGMA data_version"));
    if (!run(query) || !query.next())
        return false;
    const qint64 version = query.value(0).toLongLong();
    query.finish();
    if (!m_importBegun) {
        query.prepare(QStringLiteral("SELECT EXISTS (SELECT 1 FROM task_uids WHERE user_id = ?)"));
        query.addBindValue(userId);
        if (!run(query) || !query.next())
            return false;
        m_onlyImported = !query.value(0).toBool();
        m_importBegun = true;
    } else if (version != m_dataVersion) {
        m_onlyImported = false;
    }
    m_dataVersion = version;
    return true;
}

bool IcalTaskStore::updateTask(qint64 userId, const IcalTask &task)
{
    if (!m_tasks->updateTask(userId, task.id, { task.name, task.done, task.due },
                             TaskStore::Origin::Import)
                 .ok)
        return failed();
    return storeUid(userId, task) && storeDetails(userId, task);
}

bool IcalTaskStore::storeDetails(qint64 userId, const IcalTask &task)
{
    return !task.detailsKnown
           || m_tasks->storeDetails(userId, task.id, task.details, TaskStore::Origin::Import)
           || failed();
}

bool IcalTaskStore::storeUid(qint64 userId, const IcalTask &task)
{
    return m_tasks->storeUid(userId, task.id, task.uid, QString::fromUtf8(task.calendar))
           || failed();
}

bool IcalTaskStore::failed()
{
    m_lastError = m_tasks->lastError();
    qCWarning(lcIcalStore) << "statement failed:" << m_lastError;
    return false;
}
