#include "syncstore.h"
#include "storedtime.h"
#include "syncdetails.h"
#include "synclog.h"
#include "taskstore.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <initializer_list>
#include <limits>
#include <utility>

namespace {

QVariant epochOrNull(const QDateTime &time)
{
    return time.isValid() ? QVariant(time.toSecsSinceEpoch())
                          : QVariant(QMetaType(QMetaType::LongLong));
}

bool run(QSqlQuery &query)
{
    if (query.exec())
        return true;
    qCWarning(lcSync) << "statement failed:" << query.lastError().text();
    return false;
}

// One statement with its named values.
bool run(const QSqlDatabase &db, const QString &sql,
         std::initializer_list<std::pair<QString, QVariant>> values)
{
    QSqlQuery query(db);
    query.prepare(sql);
    for (const auto &[name, value] : values)
        query.bindValue(name, value);
    return run(query);
}

} // namespace

SyncStore::SyncStore(const QSqlDatabase &db, TaskStore *tasks)
    : m_db(db)
    , m_ownTasks(tasks ? nullptr : std::make_unique<TaskStore>(db))
    , m_tasks(tasks ? tasks : m_ownTasks.get())
{
}

SyncStore::~SyncStore() = default;

bool SyncStore::loadAccount(qint64 userId, SyncAccount &account)
{
    // A file that never synced has no sync tables: there is nothing to read, and nothing failed.
    if (!m_db.tables().contains(QStringLiteral("sync_accounts")))
        return false;
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral(R"(
        SELECT server_url, username, collection_url, sync_token, insecure_allowed,
               last_sync_epoch, changes_sent
        FROM sync_accounts WHERE user_id = :uid)"));
    query.bindValue(QStringLiteral(":uid"), userId);
    if (!run(query) || !query.next())
        return false;
    account.userId = userId;
    account.serverUrl = query.value(0).toString();
    account.userName = query.value(1).toString();
    account.collectionUrl = query.value(2).toString();
    account.syncToken = query.value(3).toString();
    account.insecureAllowed = query.value(4).toBool();
    account.lastSyncEpoch = query.value(5).toLongLong();
    account.changesSent = query.value(6).toLongLong();
    return true;
}

bool SyncStore::saveAccount(const SyncAccount &account)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral(R"(
        INSERT OR REPLACE INTO sync_accounts
            (user_id, server_url, username, collection_url, sync_token, insecure_allowed,
             last_sync_epoch)
        VALUES (:uid, :server, :user, :collection, :token, :insecure, :last))"));
    query.bindValue(QStringLiteral(":uid"), account.userId);
    query.bindValue(QStringLiteral(":server"), account.serverUrl);
    query.bindValue(QStringLiteral(":user"), account.userName);
    query.bindValue(QStringLiteral(":collection"), account.collectionUrl);
    query.bindValue(QStringLiteral(":token"), account.syncToken);
    query.bindValue(QStringLiteral(":insecure"), account.insecureAllowed ? 1 : 0);
    query.bindValue(QStringLiteral(":last"), account.lastSyncEpoch);
    return run(query);
}

bool SyncStore::saveToken(qint64 userId, const QString &token, qint64 lastSyncEpoch)
{
    return run(m_db,
               QStringLiteral("UPDATE sync_accounts SET sync_token = :token, last_sync_epoch = "
                              ":last WHERE user_id = :uid"),
               { { QStringLiteral(":token"), token },
                 { QStringLiteral(":last"), lastSyncEpoch },
                 { QStringLiteral(":uid"), userId } });
}

bool SyncStore::removeAccount(qint64 userId)
{
    return run(m_db, QStringLiteral("DELETE FROM sync_accounts WHERE user_id = :uid"),
               { { QStringLiteral(":uid"), userId } });
}

bool SyncStore::forgetItems(qint64 userId)
{
    return saveChangesSent(userId, 0)
           && run(m_db, QStringLiteral("DELETE FROM sync_items WHERE user_id = :uid"),
                  { { QStringLiteral(":uid"), userId } });
}

qint64 SyncStore::lastChange()
{
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("SELECT MAX(seq) FROM task_changes")) || !query.next())
        return 0;
    return query.value(0).toLongLong();
}

bool SyncStore::changesCounted()
{
    QSqlQuery query(m_db);
    return query.exec(QStringLiteral(
                   "SELECT COUNT(*) FROM sqlite_master WHERE type = 'trigger' AND name IN "
                   "('task_changes_insert', 'task_changes_update', 'task_changes_delete')"))
           && query.next() && query.value(0).toInt() == 3;
}

bool SyncStore::saveChangesSent(qint64 userId, qint64 seq)
{
    return run(m_db,
               QStringLiteral("UPDATE sync_accounts SET changes_sent = :seq WHERE user_id = :uid"),
               { { QStringLiteral(":seq"), seq }, { QStringLiteral(":uid"), userId } });
}

int SyncStore::changedCount(qint64 userId, qint64 seq)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral(
            "SELECT (SELECT COUNT(*) FROM task_changes WHERE user_id = :uid AND seq > :seq) + "
            "(SELECT COUNT(*) FROM sync_items WHERE user_id = :uid2 AND (synced = 0 OR etag IS "
            "NULL OR etag = ''))"));
    query.bindValue(QStringLiteral(":uid"), userId);
    query.bindValue(QStringLiteral(":seq"), seq);
    query.bindValue(QStringLiteral(":uid2"), userId);
    return run(query) && query.next() ? query.value(0).toInt() : std::numeric_limits<int>::max();
}

int SyncStore::syncedCount(qint64 userId)
{
    QSqlQuery query(m_db);
    query.prepare(
            QStringLiteral("SELECT COUNT(*) FROM sync_items i JOIN tasks t ON t.id = i.task_id "
                           "WHERE i.user_id = :uid AND i.synced = 1"));
    query.bindValue(QStringLiteral(":uid"), userId);
    return run(query) && query.next() ? query.value(0).toInt() : 0;
}

bool SyncStore::saveItem(qint64 userId, const SyncItem &item)
{
    QSqlQuery holder(m_db);
    holder.prepare(QStringLiteral(R"(
        SELECT i.task_id FROM sync_items i
        WHERE i.user_id = :uid AND i.uid = :icaluid AND i.task_id <> :task
        UNION ALL
        SELECT u.task_id FROM task_uids u JOIN tasks t ON t.id = u.task_id
        WHERE u.user_id = :uid2 AND u.uid = :icaluid2 AND u.task_id <> :task2)"));
    holder.bindValue(QStringLiteral(":uid"), userId);
    holder.bindValue(QStringLiteral(":icaluid"), item.uid);
    holder.bindValue(QStringLiteral(":task"), item.taskId);
    holder.bindValue(QStringLiteral(":uid2"), userId);
    holder.bindValue(QStringLiteral(":icaluid2"), item.uid);
    holder.bindValue(QStringLiteral(":task2"), item.taskId);
    if (!run(holder))
        return false;
    if (holder.next()) {
        qCWarning(lcSync) << "UID" << item.uid << "belongs to task" << holder.value(0).toLongLong();
        return false;
    }
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral(R"(
        INSERT OR REPLACE INTO sync_items
            (task_id, user_id, uid, href, etag, ical, synced, synced_name, synced_done,
             synced_due, changed_at, synced_details, resend)
        VALUES (:task, :uid, :icaluid, :href, :etag, :ical, :synced, :name, :done, :due,
                :changed, :details, :resend))"));
    query.bindValue(QStringLiteral(":task"), item.taskId);
    query.bindValue(QStringLiteral(":uid"), userId);
    query.bindValue(QStringLiteral(":icaluid"), item.uid);
    query.bindValue(QStringLiteral(":href"), item.href);
    query.bindValue(QStringLiteral(":etag"), QString::fromUtf8(item.etag));
    query.bindValue(QStringLiteral(":ical"), item.ical);
    query.bindValue(QStringLiteral(":synced"), item.synced ? 1 : 0);
    query.bindValue(QStringLiteral(":name"), item.acknowledged.name);
    query.bindValue(QStringLiteral(":done"), item.acknowledged.done ? 1 : 0);
    query.bindValue(QStringLiteral(":due"), epochOrNull(item.acknowledged.due));
    query.bindValue(QStringLiteral(":changed"), item.changedAt);
    query.bindValue(QStringLiteral(":details"),
                    item.syncedDetails ? QVariant(SyncDetails::encode(*item.syncedDetails))
                                       : QVariant(QMetaType::fromType<QString>()));
    query.bindValue(QStringLiteral(":resend"), item.resend ? 1 : 0);
    if (!run(query))
        return false;
    if (!item.hasTask)
        return true;
    // An export or import of the task after this names it by the same UID and keeps the
    // server's text.
    if (m_tasks->storeUid(userId, item.taskId, item.uid, item.ical))
        return true;
    qCWarning(lcSync) << "statement failed:" << m_tasks->lastError();
    return false;
}

bool SyncStore::removeItem(qint64 taskId)
{
    return run(m_db, QStringLiteral("DELETE FROM sync_items WHERE task_id = :task"),
               { { QStringLiteral(":task"), taskId } });
}

bool SyncStore::noteLocalChange(qint64 taskId, qint64 epoch)
{
    return run(m_db, QStringLiteral("UPDATE sync_items SET changed_at = :at WHERE task_id = :task"),
               { { QStringLiteral(":at"), epoch }, { QStringLiteral(":task"), taskId } });
}

// The tasks are written through the task store, as the sync's.
qint64 SyncStore::insertTask(qint64 userId, const TaskFields &fields, const QDateTime &created)
{
    const TaskStore::Written written =
            m_tasks->insertTask(userId, { fields.name.trimmed(), fields.done, fields.due },
                                TaskStore::Origin::Sync, created);
    if (!written.ok) {
        qCWarning(lcSync) << "statement failed:" << m_tasks->lastError();
        return -1;
    }
    ++m_written[written.insertedId];
    return written.insertedId;
}

bool SyncStore::updateTask(qint64 userId, qint64 taskId, const TaskFields &fields)
{
    const TaskStore::Written written =
            m_tasks->updateTask(userId, taskId, { fields.name.trimmed(), fields.done, fields.due },
                                TaskStore::Origin::Sync);
    if (!written.ok) {
        qCWarning(lcSync) << "statement failed:" << m_tasks->lastError();
        return false;
    }
    if (written.affected > 0)
        ++m_written[taskId];
    return true;
}

// One write of task_details, which SQLite reports once.
bool SyncStore::storeDetails(qint64 userId, qint64 taskId, const TaskDetails &details)
{
    if (!m_tasks->storeDetails(userId, taskId, details, TaskStore::Origin::Sync)) {
        qCWarning(lcSync) << "statement failed:" << m_tasks->lastError();
        return false;
    }
    ++m_written[taskId];
    return true;
}

bool SyncStore::deleteTask(qint64 userId, qint64 taskId)
{
    // The details go with the task, a second write SQLite reports.
    QSqlQuery details(m_db);
    details.prepare(QStringLiteral("SELECT 1 FROM task_details WHERE task_id = :task"));
    details.bindValue(QStringLiteral(":task"), taskId);
    const bool hasDetails = run(details) && details.next();
    details.finish();
    const TaskStore::Written written = m_tasks->deleteTask(userId, taskId, TaskStore::Origin::Sync);
    if (!written.ok) {
        qCWarning(lcSync) << "statement failed:" << m_tasks->lastError();
        return false;
    }
    if (written.affected > 0)
        m_written[taskId] += hasDetails ? 2 : 1;
    return true;
}

bool SyncStore::takeWritten(qint64 taskId)
{
    const auto found = m_written.find(taskId);
    if (found == m_written.end())
        return false;
    if (--*found == 0)
        m_written.erase(found);
    return true;
}

bool SyncStore::deletionHeld(qint64 taskId) const
{
    return m_tasks->deletionHeld(taskId);
}

bool SyncStore::transaction(bool immediate)
{
    return m_tasks->transaction(immediate);
}

bool SyncStore::commit()
{
    return m_tasks->commit();
}

void SyncStore::rollback()
{
    m_tasks->rollback();
}

std::optional<Recurrence::Rule> SyncStore::repeatOf(qint64 userId, qint64 taskId)
{
    return m_tasks->repeatOf(userId, taskId);
}

std::optional<int> SyncStore::reminderOf(qint64 userId, qint64 taskId)
{
    return m_tasks->reminderOf(userId, taskId);
}
