#pragma once

#include "statementcache.h"
#include "taskcountcache.h"

#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QString>

class AuthService;
class DbManager;
class QSqlQuery;

Q_DECLARE_LOGGING_CATEGORY(lcTasks)

// What the parts of the task list share: the connection, the signed-in account, what the list
// shows (set through the task service) and the statements prepared on the connection.
struct TaskListContext
{
    // Ids above this are refused: QML holds ids as numbers, exact only up to here.
    static constexpr qint64 kLargestId = (qint64(1) << 53) - 1;
    // A term made of this many characters or more is scanned for: the index would turn it into
    // as many trigram look-ups, whose buffers grow with each one (a pasted megabyte took
    // minutes).
    static constexpr qsizetype kLongestIndexedTerm = 256;

    // The orders the list can be read in.
    enum class Order { Newest, DueSoonest, Priority };

    static bool validId(qint64 id) { return id >= 1 && id <= kLargestId; }
    // SQLite's "busy" and "locked": another connection or process holds the file.
    static bool lockedOut(const QSqlQuery &query);

    // The database is open and someone is signed in.
    bool ready() const;
    qint64 userId() const;
    QSqlDatabase database() const;
    QSqlQuery &statement(const QString &sql);
    // Binds :uid and the filters in use to a list statement.
    void bindFilters(QSqlQuery &query, qint64 userId);
    // What the matching count depends on: the name and tag filters.
    QString matchKey() const
    {
        return filterTag.isEmpty() ? filterName : filterName + QChar(0) + filterTag;
    }
    // The LIKE pattern of the name filter.
    QString namePattern() const;
    // The stamp in one statement; false when the database cannot tell, and nothing is reused.
    bool currentStamp(DataStamp &stamp, bool *busy);

    DbManager *db = nullptr;
    AuthService *auth = nullptr;
    QString filterName;
    int filterActive = -1;
    // Only the tasks that carry this tag, when not empty.
    QString filterTag;
    Order order = Order::Newest;
    int pageSize = 25;
    StatementCache statements;
};
