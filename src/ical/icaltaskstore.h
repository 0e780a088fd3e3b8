#pragma once

#include "icaltask.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <functional>

class TaskStore;

// An account's tasks as iCalendar sees them: the tasks table, and beside it the table that
// gives each task the UID (and the VTODO text) it was imported or exported with. The caller
// holds the transaction; tasks and UIDs are written through the task store, as imports.
class IcalTaskStore
{
public:
    explicit IcalTaskStore(TaskStore *tasks);

    // Prepares the statements; false with lastError set when they cannot be.
    bool prepare();
    // Every task of the account, oldest first.
    bool readTasks(qint64 userId, QList<IcalTask> &tasks);
    // The same handed to take slice tasks at a time (the last slice may hold fewer), so that no
    // more are held at once; stops when take returns false. Nothing may write the tables read
    // until it returns.
    bool readTasks(qint64 userId, qsizetype slice,
                   const std::function<bool(QList<IcalTask> &&)> &take);
    // The account's task that carries a UID, as it is here.
    struct Found
    {
        qint64 id = 0; // 0 when no task carries the UID; -1 when the database cannot tell
        TaskFields fields;
        qint64 changedMs = -1; // when the window or the sync last changed it; -1 when unknown
    };
    Found findTask(qint64 userId, const QString &uid);
    // Called at the start of each transaction of an import that gives each UID once: finds
    // whether the tasks inserted in it start without rows beside them, which then need no
    // clearing, and whether the account can hold any of the UIDs still to come. An account
    // without UIDs when the import began holds only those of the import's own tasks while no
    // other connection has written since (SQLite's data_version): findTask then looks up
    // nothing. False when it cannot tell.
    bool beginInserts(qint64 userId);
    // Stores a new task with its UID and text; sets task.id.
    bool insertTask(qint64 userId, IcalTask &task);
    // Whether new tasks of this transaction may be stored by insertTasks.
    bool insertsInBatches() const { return m_newStartClean; }
    // Stores new tasks with their UIDs and texts, a few statements for many, noted with the
    // import importId; sets their ids.
    bool insertTasks(qint64 userId, qint64 importId, const QList<IcalTask *> &tasks);
    // Writes the task's name, Done flag and due time, and its UID and text.
    bool updateTask(qint64 userId, const IcalTask &task);
    // Records the task's UID and text, in place of what the task or the UID had before.
    bool storeUid(qint64 userId, const IcalTask &task);
    // Records the task's notes, priority and tags when the task knows them.
    bool storeDetails(qint64 userId, const IcalTask &task);
    QString lastError() const { return m_lastError; }
    // Whether the last failure came from another program holding the database file.
    bool lockedOut() const { return m_lockedOut; }

private:
    bool run(QSqlQuery &query);
    // Takes the task store's error; false.
    bool failed();

    TaskStore *m_tasks = nullptr;
    QSqlDatabase m_database;
    QSqlQuery m_find;
    QString m_lastError;
    bool m_lockedOut = false;
    bool m_newStartClean = false; // as beginInserts found for the transaction
    bool m_onlyImported = false; // the account's UIDs are those the import wrote
    bool m_importBegun = false;
    qint64 m_dataVersion = -1;
};
