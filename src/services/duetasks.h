#pragma once

#include "duetask.h"
#include "statementcache.h"

#include <QList>
#include <QVariantMap>

#include <functional>

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
    // both included), earliest first (ties by id), until visit returns false.
    void visitDueTasks(qint64 fromEpoch, qint64 untilEpoch,
                       const std::function<bool(const DueTask &)> &visit);
    // Every such task due within the next withinMinutes minutes.
    QList<DueTask> dueTasks(int withinMinutes);
    // The earliest of them as QML reads it; empty when there is none.
    QVariantMap nextDueTask(int withinMinutes);

private:
    bool ready() const;
    QSqlQuery &statement(const QString &sql);

    DbManager *m_db = nullptr;
    AuthService *m_auth = nullptr;
    StatementCache m_statements;
};
