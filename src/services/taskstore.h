#pragma once

#include "recurrence.h"
#include "statementcache.h"
#include "taskdetails.h"
#include "taskrow.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>

class DbManager;
class QSqlQuery;

// A task's fields as a writer hands them to the store; done is the stored Done flag (active).
struct TaskValues
{
    QString name;
    bool done = false;
    QDateTime due;
};

// A task an import brings that no task here carries the UID of, for insertNewImported.
struct NewImportedTask
{
    TaskValues values;
    QDateTime created; // the file's, or invalid for now
    QString uid;
    QString calendar;
    const TaskDetails *details = nullptr; // where the file gives them
    qint64 id = 0; // set once inserted
};

// The tasks one write, or one transaction of writes, created, changed and deleted.
struct TaskChanges
{
    QList<qint64> created;
    QList<qint64> updated;
    QList<qint64> deleted;
    // Every Done task of an account was deleted; their ids are not listed.
    bool doneDeleted = false;

    bool isEmpty() const
    {
        return created.isEmpty() && updated.isEmpty() && deleted.isEmpty() && !doneDeleted;
    }
};

// Some tasks of an account as they were, with their rows in the tables beside the tasks table
// (UIDs, rules, snoozes, ...): what an undo writes back (taskstoreundo.cpp).
struct TaskSnapshot
{
    struct Table
    {
        QString name;
        QStringList columns;
        QList<QVariantList> rows;
    };

    qint64 userId = -1;
    // It could not be read because another program holds the file.
    bool busy = false;
    // The tasks table first.
    QList<Table> tables;

    int taskCount() const { return tables.isEmpty() ? 0 : int(tables.first().rows.size()); }
    QList<qint64> taskIds() const;
    // A value of the i-th task's row.
    QVariant taskValue(int i, const QString &column) const;
};

// The one writer of the tasks table and of the UIDs beside it: the window's commands, the sync
// and the import all write through it. Due times are written in the encodings the list reads
// (StoredTime); a creation time is SQLite's CURRENT_TIMESTAMP text, the column default unless
// the writer brings the task's own (StoredTime::createdText). The time of each task's last
// change by the window or the sync is kept in task_changed_here, so that an import does not
// revert it. Every write is announced once it holds: at once, or, inside a transaction begun
// here, when that commits.
class TaskStore : public QObject
{
    Q_OBJECT

public:
    // Who wrote.
    enum class Origin { Window, Sync, Import };
    Q_ENUM(Origin)

    // What a statement did; affected rows and the inserted id when ok.
    struct Written
    {
        bool ok = false;
        int affected = 0;
        qint64 insertedId = 0;
        // It failed because another program holds the file.
        bool busy = false;
    };

    explicit TaskStore(DbManager *db, QObject *parent = nullptr);
    // On a connection of its own making, where no DbManager holds it.
    explicit TaskStore(const QSqlDatabase &database, QObject *parent = nullptr);

    QSqlDatabase database() const;

    Written insertTask(qint64 userId, const TaskValues &task, Origin origin,
                       const QDateTime &created = QDateTime());
    Written updateTask(qint64 userId, qint64 id, const TaskValues &task, Origin origin);
    Written deleteTask(qint64 userId, qint64 id, Origin origin);
    // Every Done task of the account.
    Written deleteDoneTasks(qint64 userId, Origin origin);
    // The UID a task is imported, exported or synced with, and its iCalendar text (none when
    // empty), in place of what the task or the UID had before.
    bool storeUid(qint64 userId, qint64 taskId, const QString &uid, const QString &calendar);
    // The notes, priority and tags of a task of the account, in place of those it had; they
    // go with the task when it is deleted.
    bool storeDetails(qint64 userId, qint64 taskId, const TaskDetails &details, Origin origin);
    // The task's notes, priority and tags: its own, else those of its kept text.
    TaskDetails detailsOf(qint64 userId, qint64 taskId);

    // A task's own reminder (taskreminders.cpp): minutes before its due time (0 at the due
    // time), or kNoReminder; unset follows the account's lead time, as every task does until it
    // is given one.
    static constexpr int kNoReminder = -1;
    bool storeReminder(qint64 userId, qint64 taskId, std::optional<int> lead, Origin origin);
    std::optional<int> reminderOf(qint64 userId, qint64 taskId);

    // The rule of a repeating task (taskrepeats.cpp); an empty rule makes the task one that does
    // not repeat. startOffset is how many seconds before its due time an occurrence starts.
    bool storeRepeat(qint64 userId, qint64 taskId, const Recurrence::Rule &rule, qint64 startOffset,
                     Origin origin);
    // The task's rule: unset when it never had one, empty when it was removed here.
    std::optional<Recurrence::Rule> repeatOf(qint64 userId, qint64 taskId,
                                             qint64 *startOffset = nullptr);
    // Marks the occurrence of a repeating task due at due done, in one transaction: the task
    // moves to its next occurrence after both now and due (COUNT lowered), and the occurrence
    // done is stored as a Done task of its own (insertedId). Not ok when the task does not
    // repeat or has no occurrence left.
    Written completeOccurrence(qint64 userId, qint64 id, const QString &name, const QDateTime &due,
                               const QDateTime &now, Origin origin);
    // Gives each repeating task of rows its rule in words: one read for the page, no rule
    // evaluated.
    static void describeRepeats(const QSqlDatabase &database, qint64 userId, QList<TaskRow> &rows);

    // The account's tasks ids, or every Done task of it when doneOnly, as they are now.
    TaskSnapshot snapshot(qint64 userId, const QList<qint64> &ids, bool doneOnly = false);
    // Puts deleted tasks back with their ids, creation times and the rows beside them; refused
    // (and nothing written) when a task's id or UID is taken meanwhile. The sync's record of
    // what the server holds stays as the sync last wrote it.
    Written restoreDeleted(const TaskSnapshot &snapshot, Origin origin);
    // Gives tasks still there the fields, rule and snoozes they had, as a new change, and
    // deletes the tasks created since (created).
    Written restoreChanged(const TaskSnapshot &snapshot, const QList<qint64> &created,
                           Origin origin);
    // What an import wrote, kept on disk for its undo (taskstoreimports.cpp), in the import's own
    // transactions. beginImport gives a new import of the account its id (0 when it cannot).
    qint64 beginImport(qint64 userId);
    // The import made the task (created), or is about to change it: its rows as they are now,
    // in each table beside the tasks, are kept with the import.
    bool noteImported(qint64 importId, qint64 userId, qint64 taskId, bool created);
    // Whether a task inserted now has no rows beside it to clear first (none of those tables
    // names an id the tasks table has not handed out yet); false when that cannot be read.
    bool newTasksStartClean(bool &clean);
    // For a task an import inserted while newTasksStartClean said so: its UID and text, the
    // rule and reminder they bring, and its notes, priority and tags where known (details), as
    // storeUid and storeDetails write them, without first clearing what cannot be there.
    bool storeNewImported(qint64 userId, qint64 taskId, const QString &uid, const QString &calendar,
                          const QDateTime &due, const TaskDetails *details);
    // Inserts new tasks of an import, in order, inside a transaction begun here, while
    // newTasksStartClean said so: each as insertTask and storeNewImported write it, and noted
    // with the import as noteImported does, a few statements for many tasks. Sets their ids.
    bool insertNewImported(qint64 userId, qint64 importId, QList<NewImportedTask> &tasks);
    // The details row of a task and its tags, over nothing: whoever calls clears first.
    bool writeDetailRows(qint64 userId, qint64 taskId, const TaskDetails &details);
    // What undoing an import did; busy: another program holds the file.
    struct ImportUndone
    {
        bool ok = false;
        bool busy = false;
        int removed = 0;
        int restored = 0;
        int kept = 0; // changed or deleted here since the import, left as they are
    };
    // In one transaction: deletes the tasks the import made and gives those it changed their
    // rows back, as a new change; a task changed here since the import is left as it is. The
    // import's record goes. Not ok, and nothing written, when the record is not there.
    ImportUndone undoImport(qint64 userId, qint64 importId, Origin origin);
    // Drops the records of the account's imports but those kept.
    void forgetImports(qint64 userId, const QList<qint64> &kept);

    // Deleted tasks whose deletion may still be undone: the sync does not send it yet.
    void holdDeletions(const QList<qint64> &ids)
    {
        for (const qint64 id : ids)
            m_heldDeletions.insert(id);
    }
    void releaseDeletions(const QList<qint64> &ids);
    bool deletionHeld(qint64 id) const { return m_heldDeletions.contains(id); }

    // Writes between these are one transaction, announced when it commits.
    // immediate: takes the file's write lock at once, as a writer beside another connection
    // does, rather than at its first write, which SQLite may refuse without waiting.
    bool transaction(bool immediate = false);
    bool commit();
    void rollback();

    QString lastError() const { return m_lastError; }
    // Whether the last transaction could not begin because another program holds the file.
    bool beginLockedOut() const { return m_beginLockedOut; }

    // Announces writes that another connection to the same file committed (an import on a
    // thread of its own), as this store announces its own.
    void announceCommitted(const TaskChanges &changes, Origin origin) { announce(origin, changes); }

signals:
    void tasksChanged(const TaskChanges &changes, TaskStore::Origin origin);
    // Deletions held for an undo may be sent now.
    void deletionsReleased();

private:
    QSqlQuery &statement(const QString &sql);
    Written run(QSqlQuery &query);
    // Records when a task was last changed here; an import clears it.
    void noteChanged(qint64 id, Origin origin);
    void announce(Origin origin, const TaskChanges &changes);
    bool commitWith(Origin origin, const TaskChanges &changes)
    {
        announce(origin, changes);
        return commit();
    }
    // Takes the rule of a VTODO's text as the task's own.
    bool writeRepeat(qint64 userId, qint64 taskId, const Recurrence::Rule &rule, qint64 startOffset,
                     bool &changed);
    // Drops the rules of the account's tasks that are gone.
    void forgetRepeats(qint64 userId);
    QList<QDateTime> excludedOccurrences(qint64 userId, qint64 taskId);
    bool repeatFromCalendar(qint64 userId, qint64 taskId, const QString &calendar);
    // The tables beside the tasks table, each with its columns, keyed by task_id.
    const QList<TaskSnapshot::Table> &sideTables();
    // The columns of a table of the file, in order.
    QStringList columnsOf(const QString &table) const;
    bool insertRow(const TaskSnapshot::Table &table, const QVariantList &row, bool onlyMissing);
    // Writes back the rows an import changed, kept as JSON by noteImported.
    bool restoreImported(qint64 userId, qint64 taskId, const QByteArray &before);
    // Takes the reminder of another program's alarm in a task's text as the task's own when
    // the alarm is new or changed since the text it had before; a text whose alarm went gives
    // the task the account's lead time again.
    bool reminderFromCalendar(qint64 userId, qint64 taskId, const QString &before,
                              const QString &calendar, const QDateTime &due);
    // Drops the reminders of deleted tasks.
    void forgetReminders(qint64 userId, qint64 taskId);
    // Drops the notes, priority and tags of a deleted task, or of every deleted Done task (0).
    void forgetDetails(qint64 userId, qint64 taskId);

    DbManager *m_db = nullptr;
    QSqlDatabase m_database;
    StatementCache m_statements;
    QString m_lastError;
    bool m_beginLockedOut = false;
    bool m_inTransaction = false;
    // What the open transaction wrote so far, by origin in the order written.
    QList<std::pair<Origin, TaskChanges>> m_pending;
    QSet<qint64> m_heldDeletions;
    QList<TaskSnapshot::Table> m_sideTables;
    bool m_sideTablesRead = false;
    // The tasks table's columns, and the statement that keeps a task's rows for an import's undo,
    // made once (taskstoreimports.cpp).
    QStringList m_taskColumns;
    QString m_keepRowsSql;
};

Q_DECLARE_METATYPE(TaskChanges)
