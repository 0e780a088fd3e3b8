#pragma once

#include "icaltask.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QSqlQuery;
class TaskStore;

// The sync settings of one account; the password is never among them.
struct SyncAccount
{
    qint64 userId = -1;
    QString serverUrl;
    QString userName;
    QString collectionUrl;
    QString syncToken;
    bool insecureAllowed = false;
    qint64 lastSyncEpoch = 0;
    // The last change to tasks (task_changes.seq) that a pass left nothing of to send; 0 when
    // every task must be looked at.
    qint64 changesSent = 0;
};

// Which items a pass reads: every item of the account, or those changed here since a change,
// those the server has not taken yet, and those at the given addresses or of the given UIDs.
struct ItemScope
{
    bool all = true;
    qint64 changedAfter = 0;
    QStringList hrefs;
    QStringList uids;
};

// A task and what the server last acknowledged of it. A row without a task is a task deleted
// here whose deletion the server has not acknowledged yet; a task without a row has never been
// sent. The pending changes are exactly the differences between the two, so that nothing is
// lost however the program ends.
struct SyncItem
{
    qint64 taskId = -1;
    bool hasTask = false; // the task still exists here
    bool tracked = false; // a sync_items row exists
    TaskFields local;
    QDateTime created; // the task's creation time, UTC
    QString uid;
    QString href;
    QByteArray etag; // empty while a create is unacknowledged
    QString ical; // the resource's text as the server last gave or took it
    bool synced = false; // the server acknowledged `acknowledged`
    TaskFields acknowledged;
    qint64 changedAt = 0; // when the task was last changed here, 0 when unknown
    // The task's own notes, priority and tags; unset without a row of its own (SyncDetails).
    std::optional<TaskDetails> details;
    // What the server acknowledged of them; unset when not recorded.
    std::optional<TaskDetails> syncedDetails;
    // To be sent though its fields are as acknowledged: its reminder (an alarm there) changed.
    bool resend = false;
};

// The tables of the CalDAV sync, beside the tables of tasks and accounts, and the task writes
// that changes from the server cause, made through the task store (one of its own when none is
// given).
class SyncStore
{
public:
    explicit SyncStore(const QSqlDatabase &db, TaskStore *tasks = nullptr);
    ~SyncStore();

    QSqlDatabase database() const { return m_db; }
    // The task store the sync's task writes go through.
    TaskStore *tasks() const { return m_tasks; }

    bool loadAccount(qint64 userId, SyncAccount &account);
    bool saveAccount(const SyncAccount &account);
    bool saveToken(qint64 userId, const QString &token, qint64 lastSyncEpoch);
    bool removeAccount(qint64 userId);
    bool forgetItems(qint64 userId);

    // ok, when given, says whether the tasks could be read.
    QList<SyncItem> loadItems(qint64 userId, bool *ok = nullptr,
                              const ItemScope &scope = ItemScope());
    // At most limit tasks in scope after task afterId in id order; the rows whose task is gone
    // come with the last page, the first that has fewer.
    QList<SyncItem> loadItemPage(qint64 userId, const ItemScope &scope, qint64 afterId, int limit,
                                 bool *ok);
    // The last change to any task, and that the account sent every change up to it.
    qint64 lastChange();
    // Whether every write to tasks is counted in task_changes (its triggers are there).
    bool changesCounted();
    bool saveChangesSent(qint64 userId, qint64 seq);
    // How many of the account's tasks changed here after change seq, and how many the server has
    // not taken yet: about as many as a pass that reads those reads.
    int changedCount(qint64 userId, qint64 seq);
    // Whether the server holds any of the account's tasks, and how many.
    int syncedCount(qint64 userId);
    // Refused when another task holds the item's UID: a UID is never taken from a task.
    bool saveItem(qint64 userId, const SyncItem &item);
    bool removeItem(qint64 taskId);
    // Reads item's task as it is now: its fields, when it was last changed here, and whether it
    // still exists.
    bool refreshTask(qint64 userId, SyncItem &item);
    bool noteLocalChange(qint64 taskId, qint64 epoch);

    qint64 insertTask(qint64 userId, const TaskFields &fields, const QDateTime &created);
    bool updateTask(qint64 userId, qint64 taskId, const TaskFields &fields);
    bool storeDetails(qint64 userId, qint64 taskId, const TaskDetails &details);
    bool deleteTask(qint64 userId, qint64 taskId);
    // The rule of a repeating task, for the text pushed to the server.
    std::optional<Recurrence::Rule> repeatOf(qint64 userId, qint64 taskId);
    // The task's own reminder (TaskStore::reminderOf).
    std::optional<int> reminderOf(qint64 userId, qint64 taskId);
    // True once for every write of a task through this store: SQLite reports writes later,
    // and these are not changes made by the person.
    bool takeWritten(qint64 taskId);
    // Writes on a connection no one watches: nothing to take.
    void forgetWritten() { m_written.clear(); }
    // A task deleted here whose deletion may still be undone: not sent yet.
    bool deletionHeld(qint64 taskId) const;

    // immediate: takes the file's write lock at once (TaskStore::transaction).
    bool transaction(bool immediate = false);
    bool commit();
    void rollback();

private:
    static void readItems(QSqlQuery &query, QList<SyncItem> &items);

    QSqlDatabase m_db;
    std::unique_ptr<TaskStore> m_ownTasks;
    TaskStore *m_tasks = nullptr;
    QHash<qint64, int> m_written;
};
