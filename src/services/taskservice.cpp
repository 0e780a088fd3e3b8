#include "taskservice.h"

#include "authservice.h"
#include "dbmanager.h"
#include "storedtime.h"
#include "tasksql.h"
#include "tasktablemodel.h"

#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

Q_LOGGING_CATEGORY(lcTasks, "tarvik.tasks", QtCriticalMsg)

namespace {

const auto kPageSizeKey = QStringLiteral("taskPageSize");

// SQLite's "busy" and "locked": another connection or process holds the file.
bool lockedOut(const QSqlQuery &query)
{
    const int code = query.lastError().nativeErrorCode().toInt() & 0xff;
    return code == 5 || code == 6;
}

bool validId(qint64 id)
{
    return id >= 1 && id <= TaskService::kLargestId;
}

} // namespace

TaskService::TaskService(DbManager *db, AuthService *auth, TaskTableModel *model, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_auth(auth)
    , m_model(model)
    , m_settings(QStringLiteral("Brellhaven"), QStringLiteral("TarvikQtQml"))
{
    m_pageSize = std::max(m_settings.value(kPageSizeKey, m_pageSize).toInt(), 1);
}

bool TaskService::ready() const
{
    return m_db && m_db->database().isOpen() && m_auth && m_auth->isLoggedIn();
}

QSqlQuery &TaskService::statement(const QString &sql)
{
    return m_statements.statement(m_db->database(), sql);
}

void TaskService::bindFilters(QSqlQuery &query, qint64 userId)
{
    query.bindValue(QStringLiteral(":uid"), userId);
    if (!m_filterName.isEmpty())
        query.bindValue(QStringLiteral(":name"),
                        QStringLiteral("%") + m_filterName + QStringLiteral("%"));
    if (m_filterActive != -1)
        query.bindValue(QStringLiteral(":active"), m_filterActive);
}

// The stamp in one statement; false when the database cannot tell, and nothing is reused.
bool TaskService::currentStamp(DataStamp &stamp, bool *busy)
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

void TaskService::setPageSize(int size)
{
    size = std::max(size, 1);
    if (size == m_pageSize)
        return;
    m_pageSize = size;
    m_settings.setValue(kPageSizeKey, m_pageSize);
    emit pageSizeChanged();
}

void TaskService::setFilterName(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed == m_filterName)
        return;
    m_filterName = trimmed;
    emit filterNameChanged();
    loadPage(1);
}

void TaskService::setFilterActive(int value)
{
    if (value != -1 && value != 0 && value != 1)
        value = -1;
    if (value == m_filterActive)
        return;
    m_filterActive = value;
    emit filterActiveChanged();
    loadPage(1);
}

void TaskService::clearFilters()
{
    if (!m_filterName.isEmpty()) {
        m_filterName.clear();
        emit filterNameChanged();
    }
    if (m_filterActive != -1) {
        m_filterActive = -1;
        emit filterActiveChanged();
    }
}

int TaskService::countFilteredTasks(qint64 userId, bool *ok)
{
    QSqlQuery &query =
            statement(TaskSql::countMatching(!m_filterName.isEmpty(), m_filterActive != -1));
    bindFilters(query, userId);
    *ok = query.exec() && query.next();
    const int count = *ok ? query.value(0).toInt() : 0;
    query.finish();
    return count;
}

// Reads the three counters; with a stamp, counters read under the same stamp are taken as
// they are.
bool TaskService::readCounters(qint64 userId, const DataStamp *stamp, bool *busy)
{
    *busy = false;
    if (const TaskCounts *kept = stamp ? m_counters.find(*stamp, userId) : nullptr) {
        m_totalCount = kept->total;
        m_activeCount = kept->active;
        m_inactiveCount = kept->inactive;
        return true;
    }
    m_counters.clear();

    QSqlQuery &query = statement(TaskSql::counters());
    query.bindValue(QStringLiteral(":uid"), userId);
    const bool found = query.exec() && query.next();
    if (found) {
        const TaskCounts counts { query.value(QStringLiteral("total")).toInt(),
                                  query.value(QStringLiteral("active")).toInt(),
                                  query.value(QStringLiteral("inactive")).toInt() };
        m_totalCount = counts.total;
        m_activeCount = counts.active;
        m_inactiveCount = counts.inactive;
        if (stamp)
            m_counters.keep(*stamp, userId, counts);
    }
    *busy = !found && lockedOut(query);
    query.finish();
    return found;
}

bool TaskService::queryRows(qint64 userId, qint64 offset, QList<TaskRow> &rows)
{
    QSqlQuery &query = statement(TaskSql::pageRows(!m_filterName.isEmpty(), m_filterActive != -1));
    bindFilters(query, userId);
    query.bindValue(QStringLiteral(":lim"), m_pageSize);
    query.bindValue(QStringLiteral(":off"), offset);

    rows.clear();
    const bool ok = query.exec();
    if (ok) {
        while (query.next()) {
            TaskRow row;
            row.id = query.value(0).toLongLong();
            row.name = query.value(1).toString();
            row.active = query.value(2).toBool();
            row.expireAt = StoredTime::read(query.value(3));
            row.createAt = StoredTime::read(query.value(4));
            rows.append(std::move(row));
        }
    }
    query.finish();
    return ok;
}

// A page load is one read transaction: when another process holds the file locked, the load
// waits once, then gives up and leaves the list, the counters and the page as they were.
void TaskService::loadPage(int page)
{
    if (!ready())
        return;
    const qint64 userId = m_auth->userId();
    QSqlDatabase database = m_db->database();
    const bool inTransaction = database.transaction();

    DataStamp stamp;
    bool busy = false;
    const bool stamped = currentStamp(stamp, &busy);
    const bool countersRead = !busy && readCounters(userId, stamped ? &stamp : nullptr, &busy);
    if (busy) {
        qCWarning(lcTasks) << "the database is locked; the list was not reloaded";
        if (inTransaction)
            database.rollback();
        return;
    }
    readPage(page, userId, stamped ? &stamp : nullptr, countersRead);
    if (inTransaction && !database.commit())
        database.rollback();
}

// Page flips and search keystrokes ask the same counting questions of unchanged data over and
// over; the answers are kept with the stamp of the data they were read from and reused while
// the stamp stays the same. The results are those of the full sequence: the matching count,
// the counters, the page count and clamping, then the page's rows.
void TaskService::readPage(int page, qint64 userId, const DataStamp *stamp, bool countersRead)
{
    // Without a name filter the matching count is one of the counters.
    int matching = 0;
    bool matchingKnown = false;
    if (m_filterName.isEmpty() && countersRead) {
        matching = m_filterActive == -1  ? m_totalCount
                   : m_filterActive == 1 ? m_activeCount
                                         : m_inactiveCount;
        matchingKnown = true;
    } else if (const TaskCounts *kept =
                       stamp ? m_matching.find(*stamp, userId, m_filterName, m_filterActive)
                             : nullptr) {
        matching = kept->total;
        matchingKnown = true;
    }

    // Page 1 stays page 1 whatever the count, so its rows can come first; when they do not
    // fill the page they are all the matching rows, and the count needs no scan of its own.
    QList<TaskRow> rows;
    bool rowsRead = false;
    if (!matchingKnown && page <= 1) {
        rowsRead = true;
        if (queryRows(userId, 0, rows) && rows.size() < m_pageSize) {
            matching = int(rows.size());
            matchingKnown = true;
        }
    }
    if (!matchingKnown)
        matching = countFilteredTasks(userId, &matchingKnown);
    if (stamp && matchingKnown)
        m_matching.keep(*stamp, userId, TaskCounts { matching }, m_filterName, m_filterActive);
    else
        m_matching.clear();

    if (countersRead)
        emit countsChanged();

    m_totalPages = int(std::max<qint64>(1, (qint64(matching) + m_pageSize - 1) / m_pageSize));
    emit totalPagesChanged();

    const int clamped = std::max(std::min(page, m_totalPages), 1);
    if (clamped != m_currentPage) {
        m_currentPage = clamped;
        emit currentPageChanged();
    }

    if (!rowsRead)
        queryRows(userId, qint64(m_currentPage - 1) * m_pageSize, rows);
    if (m_model)
        m_model->setRows(std::move(rows));
}

// A command succeeds when its statement executes (and, for one aimed at a task, changes that
// row); the current page is reloaded after every executed statement, so that the list shows
// what is really there.
bool TaskService::runCommand(QSqlQuery &query, bool mustChangeRow)
{
    const bool ok = query.exec();
    const bool changed = ok && query.numRowsAffected() > 0;
    if (!ok)
        qCWarning(lcTasks) << "task command failed:" << query.lastError().text();
    query.finish();
    if (ok)
        loadPage(m_currentPage);
    return mustChangeRow ? changed : ok;
}

bool TaskService::createTask(const QString &name, const QDateTime &expireAt, bool active)
{
    if (!ready())
        return false;
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return false;

    QSqlQuery &query = statement(TaskSql::insert());
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    query.bindValue(QStringLiteral(":name"), trimmed);
    query.bindValue(QStringLiteral(":active"), active ? 1 : 0);
    query.bindValue(QStringLiteral(":expire"), StoredTime::dueText(expireAt));
    query.bindValue(QStringLiteral(":expire_at_epoch"), StoredTime::dueEpoch(expireAt));
    const bool saved = runCommand(query, false);
    if (saved)
        emit dueTimesChanged();
    return saved;
}

bool TaskService::updateTask(qint64 id, const QString &name, bool active, const QDateTime &expireAt)
{
    if (!ready() || !validId(id))
        return false;

    QSqlQuery &query = statement(TaskSql::update());
    query.bindValue(QStringLiteral(":name"), name.trimmed());
    query.bindValue(QStringLiteral(":active"), active ? 1 : 0);
    query.bindValue(QStringLiteral(":expire"), StoredTime::dueText(expireAt));
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    query.bindValue(QStringLiteral(":expire_at_epoch"), StoredTime::dueEpoch(expireAt));
    const bool saved = runCommand(query, true);
    if (saved)
        emit dueTimesChanged();
    return saved;
}

bool TaskService::deleteTask(qint64 id)
{
    if (!ready() || !validId(id))
        return false;

    QSqlQuery &query = statement(TaskSql::remove());
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    return runCommand(query, true);
}

bool TaskService::deleteAllInactive()
{
    if (!ready())
        return false;

    QSqlQuery &query = statement(TaskSql::removeDone());
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    return runCommand(query, false);
}

QVariantMap TaskService::nextDueTask(int withinMinutes)
{
    if (!ready())
        return {};
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QSqlQuery &query = statement(TaskSql::firstDue());
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    query.bindValue(QStringLiteral(":now"), now);
    query.bindValue(QStringLiteral(":lim"),
                    StoredTime::saturatingAdd(now, qint64(withinMinutes) * 60));
    QVariantMap next;
    if (query.exec() && query.next()) {
        const qint64 epoch = query.value(2).toLongLong();
        next = DueTask { query.value(0).toLongLong(), query.value(1).toString(),
                         StoredTime::reminderText(epoch), epoch }
                       .toMap();
    }
    query.finish();
    return next;
}

void TaskService::visitDueTasks(qint64 fromEpoch, qint64 untilEpoch,
                                const std::function<bool(const DueTask &)> &visit)
{
    if (!ready() || fromEpoch > untilEpoch)
        return;
    QSqlQuery &query = statement(TaskSql::dueBetween());
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    query.bindValue(QStringLiteral(":now"), fromEpoch);
    query.bindValue(QStringLiteral(":lim"), untilEpoch);
    if (query.exec()) {
        while (query.next()) {
            const qint64 epoch = query.value(2).toLongLong();
            if (!visit(DueTask { query.value(0).toLongLong(), query.value(1).toString(),
                                 StoredTime::reminderText(epoch), epoch }))
                break;
        }
    }
    query.finish();
}

QList<DueTask> TaskService::dueTasks(int withinMinutes)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QList<DueTask> due;
    visitDueTasks(now, StoredTime::saturatingAdd(now, qint64(withinMinutes) * 60),
                  [&due](const DueTask &task) {
                      due.append(task);
                      return true;
                  });
    return due;
}
