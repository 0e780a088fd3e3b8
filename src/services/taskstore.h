#pragma once

#include "statementcache.h"
#include "taskdetails.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSqlDatabase>
#include <QString>

class DbManager;
class QSqlQuery;

// A task's fields as a writer hands them to the store; done is the stored Done flag (active).
struct TaskValues
{
    QString name;
    bool done = false;
    QDateTime due;
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

// The one writer of the tasks table and of the UIDs beside it: the window's commands, the sync
// and the import all write through it. Due times are written in the encodings the list reads
// (StoredTime); a creation time is SQLite's CURRENT_TIMESTAMP text, the column default unless
// the writer brings the task's own (StoredTime::createdText). Every write is announced once it
// holds: at once, or, inside a transaction begun here, when that commits.
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

    // Writes between these are one transaction, announced when it commits.
    bool transaction();
    bool commit();
    void rollback();

    QString lastError() const { return m_lastError; }

signals:
    void tasksChanged(const TaskChanges &changes, TaskStore::Origin origin);

private:
    QSqlQuery &statement(const QString &sql);
    Written run(QSqlQuery &query);
    void announce(Origin origin, const TaskChanges &changes);

    DbManager *m_db = nullptr;
    QSqlDatabase m_database;
    StatementCache m_statements;
    QString m_lastError;
    bool m_inTransaction = false;
    // What the open transaction wrote so far, by origin in the order written.
    QList<std::pair<Origin, TaskChanges>> m_pending;
};

Q_DECLARE_METATYPE(TaskChanges)
