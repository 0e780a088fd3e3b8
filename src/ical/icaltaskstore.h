#pragma once

#include "icaltask.h"

#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

// An account's tasks as iCalendar sees them: the tasks table, and beside it the table that
// gives each task the UID (and the VTODO text) it was imported or exported with. The caller
// holds the transaction; every statement runs on the given connection.
class IcalTaskStore
{
public:
    explicit IcalTaskStore(const QSqlDatabase &database);

    // Creates the UID table when it is missing.
    bool prepare();
    // Every task of the account, oldest first.
    bool readTasks(qint64 userId, QList<IcalTask> &tasks);
    // The account's task that carries uid, or 0; -1 when the database cannot tell.
    qint64 findTask(qint64 userId, const QString &uid);
    // Stores a new task with its UID and text; sets task.id.
    bool insertTask(qint64 userId, IcalTask &task);
    // Writes the task's name, Done flag and due time, and its UID and text.
    bool updateTask(qint64 userId, const IcalTask &task);
    // Records the task's UID and text, in place of what the task or the UID had before.
    bool storeUid(qint64 userId, const IcalTask &task);
    QString lastError() const { return m_lastError; }
    // Whether the last failure came from another program holding the database file.
    bool lockedOut() const { return m_lockedOut; }

private:
    bool run(QSqlQuery &query);

    QSqlDatabase m_database;
    QSqlQuery m_find;
    QSqlQuery m_insert;
    QSqlQuery m_update;
    QSqlQuery m_storeUid;
    QString m_lastError;
    bool m_lockedOut = false;
};
