#include "tasklistcontext.h"

#include "authservice.h"
#include "dbmanager.h"
#include "tasksql.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

Q_LOGGING_CATEGORY(lcTasks, "tarvik.tasks", QtCriticalMsg)

bool TaskListContext::lockedOut(const QSqlQuery &query)
{
    const int code = query.lastError().nativeErrorCode().toInt() & 0xff;
    return code == 5 || code == 6;
}

bool TaskListContext::ready() const
{
    return db && db->database().isOpen() && auth && auth->isLoggedIn();
}

qint64 TaskListContext::userId() const
{
    return auth->userId();
}

QSqlDatabase TaskListContext::database() const
{
    return db->database();
}

QSqlQuery &TaskListContext::statement(const QString &sql)
{
    return statements.statement(db->database(), sql);
}

void TaskListContext::bindFilters(QSqlQuery &query, qint64 userId)
{
    query.bindValue(QStringLiteral(":uid"), userId);
    if (!filterName.isEmpty())
        query.bindValue(QStringLiteral(":name"), namePattern());
    if (filterActive != -1)
        query.bindValue(QStringLiteral(":active"), filterActive);
    if (!filterTag.isEmpty())
        query.bindValue(QStringLiteral(":tag"), filterTag);
}

QString TaskListContext::namePattern() const
{
    return QStringLiteral("%") + filterName + QStringLiteral("%");
}

bool TaskListContext::currentStamp(DataStamp &stamp, bool *busy)
{
    QSqlQuery &query = statement(TaskSql::stamp());
    const bool found = query.exec() && query.next();
    if (found) {
        stamp.changes = query.value(0).toLongLong();
        stamp.dataVersion = query.value(1).toLongLong();
        stamp.schemaVersion = query.value(2).toLongLong();
    }
    *busy = !found && lockedOut(query);
    query.finish();
    return found;
}
