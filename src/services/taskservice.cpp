#include "taskservice.h"

#include "authservice.h"
#include "dbmanager.h"
#include "storedtime.h"
#include "tasksql.h"
#include "tasktablemodel.h"

#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <limits>

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

// A term made of this many characters or more is scanned for: the index would turn it into as
// many trigram look-ups, whose buffers grow with each one (a pasted megabyte took minutes).
constexpr qsizetype kLongestIndexedTerm = 256;

// The trigram index answers a LIKE pattern holding a run of at least three characters that are
// no wildcards; for shorter terms it would read every entry.
bool hasTrigramRun(const QString &pattern)
{
    if (pattern.size() >= kLongestIndexedTerm)
        return false;
    int run = 0;
    for (const uint c : pattern.toUcs4()) {
        run = (c == '%' || c == '_') ? 0 : run + 1;
        if (run >= 3)
            return true;
    }
    return false;
}

// Counting a match through the trigram index costs about as much as scanning sixteen of the
// account's names: a term found in more tasks than that share is counted by the scan.
int trigramCountLimit(int accountTasks)
{
    return std::max(2000, accountTasks / 16);
}

// A row of the list as the page statements select it.
TaskRow rowOf(const QSqlQuery &query, QVariant *created)
{
    TaskRow row;
    row.id = query.value(0).toLongLong();
    row.name = query.value(1).toString();
    row.active = query.value(2).toBool();
    row.expireAt = StoredTime::read(query.value(3));
    *created = query.value(4);
    row.createAt = StoredTime::read(*created);
    return row;
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

// A term found in few tasks is counted on the trigram index, whose first matches tell; one
// found in many is counted by a scan of the account's names.
int TaskService::countFilteredTasks(qint64 userId, bool viaTrigram, bool *ok)
{
    if (viaTrigram) {
        const int limit = trigramCountLimit(m_totalCount);
        QSqlQuery &query = statement(TaskSql::countByTrigram(m_filterActive != -1));
        bindFilters(query, userId);
        query.bindValue(QStringLiteral(":cap"), limit);
        const bool found = query.exec() && query.next();
        const int count = found ? query.value(0).toInt() : 0;
        query.finish();
        if (found && count < limit) {
            *ok = true;
            return count;
        }
    }
    QSqlQuery &query =
            statement(TaskSql::countMatching(!m_filterName.isEmpty(), m_filterActive != -1));
    bindFilters(query, userId);
    *ok = query.exec() && query.next();
    const int count = *ok ? query.value(0).toInt() : 0;
    query.finish();
    return count;
}

// The trigram index is used once it is full and while all three triggers keep it in step with
// every writer; this is looked up again whenever the schema changes.
bool TaskService::trigramUsable(const DataStamp &stamp)
{
    if (stamp.schemaVersion != m_trigramSchema) {
        QSqlQuery &query = statement(TaskSql::trigramReady());
        m_trigram = query.exec() && query.next() && query.value(0).toBool();
        query.finish();
        m_trigramSchema = stamp.schemaVersion;
    }
    return m_trigram;
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

// Whether the page next to the one loaded last can be read from that page's edge rows: nothing
// changed since, and no task lacks a creation time (those sort after every edge).
bool TaskService::besideEdges(qint64 userId, int page, const DataStamp *stamp)
{
    if (!stamp || !m_edges.valid || !(m_edges.stamp == *stamp) || m_edges.userId != userId
        || m_edges.filterName != m_filterName || m_edges.filterActive != m_filterActive
        || m_edges.pageSize != m_pageSize || std::abs(page - m_edges.page) != 1
        || m_edges.firstCreated.isNull() || m_edges.lastCreated.isNull())
        return false;
    QSqlQuery &query = statement(TaskSql::hasUndated());
    query.bindValue(QStringLiteral(":uid"), userId);
    const bool undated = !query.exec() || !query.next() || query.value(0).toBool();
    query.finish();
    return !undated;
}

// The page's rows, in the list's order, read the cheapest way that gives exactly them: next to
// the page loaded last (a flip), from the nearer end of the list when the page lies past the
// middle, or through the trigram index (matches looked up and sorted).
bool TaskService::queryRows(qint64 userId, int page, qint64 matching, const DataStamp *stamp,
                            bool viaTrigram, QList<TaskRow> &rows)
{
    const bool byName = !m_filterName.isEmpty();
    const bool byDone = m_filterActive != -1;
    qint64 offset = qint64(page - 1) * m_pageSize;
    qint64 limit = m_pageSize;
    bool reversed = false;
    QString sql;
    const bool beside = !viaTrigram && besideEdges(userId, page, stamp);
    if (beside) {
        reversed = page < m_edges.page;
        sql = TaskSql::pageRowsBeside(byName, byDone, !reversed);
    } else {
        if (matching >= 0 && offset > 0) {
            const qint64 end = std::min(offset + m_pageSize, matching);
            if (end > offset && matching - end < offset) {
                reversed = true;
                limit = end - offset;
                offset = matching - end;
            }
        }
        sql = viaTrigram ? TaskSql::pageRowsByTrigram(byDone, reversed)
              : reversed ? TaskSql::pageRowsFromEnd(byName, byDone)
                         : TaskSql::pageRows(byName, byDone);
    }

    QSqlQuery &query = statement(sql);
    bindFilters(query, userId);
    query.bindValue(QStringLiteral(":lim"), limit);
    if (beside) {
        query.bindValue(QStringLiteral(":created"),
                        reversed ? m_edges.firstCreated : m_edges.lastCreated);
        query.bindValue(QStringLiteral(":id"), reversed ? m_edges.firstId : m_edges.lastId);
    } else {
        query.bindValue(QStringLiteral(":off"), offset);
    }

    rows.clear();
    QList<QVariant> created;
    const bool ok = query.exec();
    if (ok) {
        while (query.next()) {
            QVariant createdAt;
            rows.append(rowOf(query, &createdAt));
            created.append(createdAt);
        }
    }
    query.finish();
    if (reversed) {
        std::reverse(rows.begin(), rows.end());
        std::reverse(created.begin(), created.end());
    }

    m_edges.valid = ok && stamp && !rows.isEmpty();
    if (m_edges.valid) {
        m_edges =
                PageEdges { true,          *stamp, userId,          m_filterName,    m_filterActive,
                            m_pageSize,    page,   created.first(), rows.first().id, created.last(),
                            rows.last().id };
    }
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
    if (stamped && countersRead)
        planNameIndex(userId, stamp);
    readPage(page, userId, stamped ? &stamp : nullptr, countersRead);
    if (inTransaction && !database.commit())
        database.rollback();
}

void TaskService::setNameIndexLimits(int minimumTasks, int rowsPerSlice, int pauseMs)
{
    m_nameIndexMinimum = std::max(minimumTasks, 0);
    m_nameSliceRows = std::max(rowsPerSlice, 1);
    m_nameFillPause = std::max(pauseMs, 0);
}

bool TaskService::nameIndexReady() const
{
    return ready() && m_names.isReady() && m_names.userId() == m_auth->userId();
}

void TaskService::forgetNames()
{
    m_names.clear();
    m_nameFill = NameFill {};
    m_nameMatches = NameMatches {};
}

// A large account's names are read into memory once its list shows, and again after another
// writer changed the file; a small account is searched fast enough without.
void TaskService::planNameIndex(qint64 userId, const DataStamp &stamp)
{
    if (m_totalCount < m_nameIndexMinimum) {
        if (m_names.userId() != -1 || m_nameFill.userId != -1)
            forgetNames();
        return;
    }
    if (m_names.holds(stamp, userId) || (m_nameFill.userId == userId && m_nameFill.scheduled))
        return;
    if (m_nameFill.userId != userId)
        m_nameFill = NameFill {};
    m_nameFill.userId = userId;
    m_nameFill.scheduled = true;
    QTimer::singleShot(0, this, &TaskService::fillNameIndex);
}

// One slice of names, read in a transaction of its own; when the data changed since the first
// slice, the reading starts over.
void TaskService::fillNameIndex()
{
    m_nameFill.scheduled = false;
    if (!ready() || m_nameFill.userId != m_auth->userId()) {
        m_nameFill = NameFill {};
        m_names.clear();
        return;
    }
    QSqlDatabase database = m_db->database();
    const bool inTransaction = database.transaction();
    auto endRead = [&] {
        if (inTransaction && !database.commit())
            database.rollback();
    };
    auto giveUp = [&] {
        endRead();
        m_nameFill = NameFill {};
        m_names.clear();
    };

    DataStamp stamp;
    bool busy = false;
    if (!currentStamp(stamp, &busy))
        return giveUp();
    // Something wrote meanwhile: start over once it has had time to finish (an index being
    // filled writes a slice per turn, and reading along would only slow both down).
    if (m_nameFill.started && !(stamp == m_nameFill.stamp)) {
        endRead();
        m_nameFill.started = false;
        m_nameFill.scheduled = true;
        QTimer::singleShot(m_nameFillPause, this, &TaskService::fillNameIndex);
        return;
    }
    if (!m_nameFill.started) {
        // Without the index in the list's order every slice would sort the account's tasks.
        QSqlQuery &check = statement(TaskSql::hasListIndex());
        const bool indexed = check.exec() && check.next() && check.value(0).toBool();
        check.finish();
        if (!indexed)
            return giveUp();
        m_names.begin(m_nameFill.userId);
        m_nameFill.started = true;
        m_nameFill.undated = false;
        m_nameFill.stamp = stamp;
        m_nameFill.created = QVariant();
        m_nameFill.id = 0;
    }

    QSqlQuery &query = statement(m_nameFill.undated             ? TaskSql::nameIndexUndated()
                                 : m_nameFill.created.isValid() ? TaskSql::nameIndexAfter()
                                                                : TaskSql::nameIndexFirst());
    query.bindValue(QStringLiteral(":uid"), m_nameFill.userId);
    query.bindValue(QStringLiteral(":lim"), m_nameSliceRows);
    if (m_nameFill.undated || m_nameFill.created.isValid())
        query.bindValue(QStringLiteral(":id"), m_nameFill.id);
    if (!m_nameFill.undated && m_nameFill.created.isValid())
        query.bindValue(QStringLiteral(":created"), m_nameFill.created);
    int read = 0;
    const bool ok = query.exec();
    while (ok && query.next()) {
        ++read;
        m_nameFill.id = query.value(0).toLongLong();
        m_names.append(m_nameFill.id, query.value(1).toByteArray(), query.value(2).toBool(),
                       query.value(3).toInt());
        if (!m_nameFill.undated)
            m_nameFill.created = query.value(4);
    }
    query.finish();
    if (!ok || m_names.full()) {
        qCWarning(lcTasks) << "the names of the tasks could not be read for searching";
        return giveUp();
    }
    endRead();

    if (read < m_nameSliceRows) {
        if (m_nameFill.undated) {
            m_names.finish(stamp);
            qCDebug(lcTasks) << "names of" << m_names.size() << "tasks held for searching in"
                             << m_names.bytes() << "bytes";
            m_nameFill = NameFill {};
            return;
        }
        m_nameFill.undated = true;
        m_nameFill.id = std::numeric_limits<qint64>::max();
    }
    m_nameFill.scheduled = true;
    QTimer::singleShot(0, this, &TaskService::fillNameIndex);
}

// The matches of the name filter by the index, when it holds the data of this stamp.
const std::vector<quint32> *TaskService::matchesByNames(qint64 userId, const DataStamp *stamp)
{
    if (m_filterName.isEmpty() || !stamp || !m_names.holds(*stamp, userId)
        || m_filterName.size() >= kLongestIndexedTerm || !TaskNameIndex::answers(m_filterName))
        return nullptr;
    NameMatches &kept = m_nameMatches;
    if (!kept.valid || !(kept.stamp == *stamp) || kept.generation != m_names.generation()
        || kept.userId != userId || kept.filterName != m_filterName
        || kept.filterActive != m_filterActive) {
        kept.places = m_names.match(QStringLiteral("%") + m_filterName + QStringLiteral("%"),
                                    m_filterActive);
        kept.valid = true;
        kept.stamp = *stamp;
        kept.generation = m_names.generation();
        kept.userId = userId;
        kept.filterName = m_filterName;
        kept.filterActive = m_filterActive;
    }
    return &kept.places;
}

bool TaskService::rowsByNames(const std::vector<quint32> &places, int page, QList<TaskRow> &rows)
{
    rows.clear();
    m_edges.valid = false;
    const size_t first = size_t(page - 1) * size_t(m_pageSize);
    const size_t end = std::min(first + size_t(m_pageSize), places.size());
    QSqlQuery &query = statement(TaskSql::rowById());
    for (size_t i = first; i < end; ++i) {
        query.bindValue(QStringLiteral(":id"), m_names.idAt(places[i]));
        QVariant created;
        const bool found = query.exec() && query.next();
        if (found)
            rows.append(rowOf(query, &created));
        query.finish();
        if (!found) {
            rows.clear();
            return false;
        }
    }
    return true;
}

qint64 TaskService::placeInList(qint64 id)
{
    QSqlQuery &query = statement(TaskSql::placeInList());
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    query.bindValue(QStringLiteral(":id"), id);
    const qint64 place = query.exec() && query.next() ? query.value(0).toLongLong() : -1;
    query.finish();
    return place;
}

// Page flips and search keystrokes ask the same counting questions of unchanged data over and
// over; the answers are kept with the stamp of the data they were read from and reused while
// the stamp stays the same. The results are those of the full sequence: the matching count,
// the counters, the page count and clamping, then the page's rows.
void TaskService::readPage(int page, qint64 userId, const DataStamp *stamp, bool countersRead)
{
    // In a large account the names held in memory give the matches of a search.
    const std::vector<quint32> *byNames = matchesByNames(userId, stamp);
    const bool viaTrigram = !byNames && !m_filterName.isEmpty() && stamp && trigramUsable(*stamp)
                            && hasTrigramRun(m_filterName);

    // Without a name filter the matching count is one of the counters.
    int matching = 0;
    bool matchingKnown = false;
    if (byNames) {
        matching = int(byNames->size());
        matchingKnown = true;
    } else if (m_filterName.isEmpty() && countersRead) {
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
    // With the trigram index the count is cheap and comes first.
    QList<TaskRow> rows;
    bool rowsRead = false;
    if (!matchingKnown && page <= 1 && !viaTrigram) {
        rowsRead = true;
        if (queryRows(userId, 1, -1, stamp, false, rows) && rows.size() < m_pageSize) {
            matching = int(rows.size());
            matchingKnown = true;
        }
    }
    if (!matchingKnown)
        matching = countFilteredTasks(userId, viaTrigram, &matchingKnown);
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

    if (!rowsRead && byNames) {
        rowsByNames(*byNames, m_currentPage, rows);
    } else if (!rowsRead) {
        // The trigram index's matches are looked up one by one and sorted; walking the list
        // in its order reads about (rows skipped and shown) x (all tasks / matches) entries
        // instead, and a lookup costs about as much as reading eight entries.
        bool sortMatches = false;
        if (viaTrigram && matchingKnown) {
            const qint64 offset = qint64(m_currentPage - 1) * m_pageSize;
            const qint64 nearer = std::min(offset, std::max<qint64>(0, matching - offset));
            const double walked = double(nearer + m_pageSize) * double(m_totalCount)
                                  / double(std::max(matching, 1));
            sortMatches = 8.0 * double(matching) < walked;
        }
        queryRows(userId, m_currentPage, matchingKnown ? matching : -1, stamp, sortMatches, rows);
    }
    if (m_model)
        m_model->setRows(std::move(rows));
}

// Whether a task with this name and Done flag is among the matching rows, by SQLite's LIKE.
bool TaskService::matchesFilters(const QString &name, int active)
{
    if (m_filterActive != -1 && active != m_filterActive)
        return false;
    if (m_filterName.isEmpty())
        return true;
    QSqlQuery &query = statement(TaskSql::likeMatch());
    query.bindValue(QStringLiteral(":value"), name);
    query.bindValue(QStringLiteral(":name"),
                    QStringLiteral("%") + m_filterName + QStringLiteral("%"));
    const bool matches = query.exec() && query.next() && query.value(0).toBool();
    query.finish();
    return matches;
}

TaskService::TaskState TaskService::taskState(qint64 id)
{
    TaskState task;
    const bool byName = !m_filterName.isEmpty();
    QSqlQuery &query = statement(TaskSql::taskState(byName));
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    if (byName)
        query.bindValue(QStringLiteral(":name"),
                        QStringLiteral("%") + m_filterName + QStringLiteral("%"));
    const bool ran = query.exec();
    task.busy = !ran && lockedOut(query);
    if (ran && query.next()) {
        task.exists = true;
        task.active = query.value(0).toInt();
        // LIKE itself tells, so a name it never matches (NULL, stored as bytes) does not match.
        task.matches = query.value(1).toInt() == 1
                       && (m_filterActive == -1 || task.active == m_filterActive);
    }
    query.finish();
    return task;
}

void TaskService::addChange(CountChange &change, const TaskState &task, int sign) const
{
    if (!task.exists)
        return;
    change.counters.total += sign;
    if (task.active == 1)
        change.counters.active += sign;
    else if (task.active == 0)
        change.counters.inactive += sign;
    if (task.matches)
        change.matching += sign;
}

// A command succeeds when its statement executes (and, for one aimed at a task, changes that
// row); the current page is reloaded after every executed statement, so that the list shows
// what is really there. Counts read just before the command, with nobody else writing in
// between, take what the command did instead of being read again.
bool TaskService::runCommand(QSqlQuery &query, bool mustChangeRow, const CountChange &change,
                             const NameChange &nameChange)
{
    const qint64 userId = m_auth->userId();
    DataStamp before;
    bool busy = false;
    const bool stamped = currentStamp(before, &busy);
    // A file another process holds locked refuses the command as it refused the read: the
    // command is not tried, so that it does not wait a second time. Nor is it when the read
    // failed for a reason SQLite did not call a lock.
    setFileInUse(busy);
    if (busy || !stamped) {
        qCWarning(lcTasks) << "the database is locked or unreadable; the task command was not run";
        return false;
    }

    const bool ok = query.exec();
    const int affected = ok ? query.numRowsAffected() : 0;
    const qint64 insertedId = ok ? query.lastInsertId().toLongLong() : 0;
    const bool changed = affected > 0;
    if (!ok) {
        qCWarning(lcTasks) << "task command failed:" << query.lastError().text();
        setFileInUse(lockedOut(query));
    }
    query.finish();
    if (!ok)
        return false;

    DataStamp after;
    if (stamped && currentStamp(after, &busy) && after.dataVersion == before.dataVersion
        && after.schemaVersion == before.schemaVersion) {
        TaskCounts counters = change.counters;
        if (change.perDoneRowRemoved)
            counters = TaskCounts { -affected, -affected, 0 };
        m_counters.adjust(before, after, counters, userId);
        if (change.matchingKnown) {
            m_matching.adjust(before, after, TaskCounts { change.matching }, userId, m_filterName,
                              m_filterActive);
        } else {
            m_matching.clear();
        }
        if (m_names.holds(before, userId) && nameChange(m_names, affected, insertedId))
            m_names.restamp(after);
    }
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

    CountChange change;
    addChange(change, TaskState { true, int(active), matchesFilters(trimmed, int(active)) }, +1);
    QSqlQuery &query = statement(TaskSql::insert());
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    query.bindValue(QStringLiteral(":name"), trimmed);
    query.bindValue(QStringLiteral(":active"), active ? 1 : 0);
    query.bindValue(QStringLiteral(":expire"), StoredTime::dueText(expireAt));
    query.bindValue(QStringLiteral(":expire_at_epoch"), StoredTime::dueEpoch(expireAt));
    const int flag = active ? 1 : 0;
    const bool saved =
            runCommand(query, false, change, [&](TaskNameIndex &names, int, qint64 insertedId) {
                const qint64 place = insertedId > 0 ? placeInList(insertedId) : -1;
                if (place < 0 || !QStringView(trimmed).isValidUtf16())
                    return false;
                names.insert(place, insertedId, trimmed, flag);
                return true;
            });
    if (saved)
        emit dueTimesChanged();
    return saved;
}

bool TaskService::updateTask(qint64 id, const QString &name, bool active, const QDateTime &expireAt)
{
    if (!ready() || !validId(id))
        return false;

    const QString trimmed = name.trimmed();
    const TaskState old = taskState(id);
    setFileInUse(old.busy);
    if (old.busy)
        return false;
    CountChange change;
    addChange(change, old, -1);
    if (old.exists)
        addChange(change, TaskState { true, int(active), matchesFilters(trimmed, int(active)) },
                  +1);
    QSqlQuery &query = statement(TaskSql::update());
    query.bindValue(QStringLiteral(":name"), trimmed);
    query.bindValue(QStringLiteral(":active"), active ? 1 : 0);
    query.bindValue(QStringLiteral(":expire"), StoredTime::dueText(expireAt));
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    query.bindValue(QStringLiteral(":expire_at_epoch"), StoredTime::dueEpoch(expireAt));
    const bool saved =
            runCommand(query, true, change, [&](TaskNameIndex &names, int affected, qint64) {
                return affected == 0
                       || (QStringView(trimmed).isValidUtf16()
                           && names.update(id, trimmed, active ? 1 : 0));
            });
    if (saved)
        emit dueTimesChanged();
    return saved;
}

bool TaskService::deleteTask(qint64 id)
{
    if (!ready() || !validId(id))
        return false;

    const TaskState task = taskState(id);
    setFileInUse(task.busy);
    if (task.busy)
        return false;
    CountChange change;
    addChange(change, task, -1);
    QSqlQuery &query = statement(TaskSql::remove());
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    return runCommand(query, true, change, [id](TaskNameIndex &names, int affected, qint64) {
        return affected == 0 || names.remove(id);
    });
}

bool TaskService::deleteAllInactive()
{
    if (!ready())
        return false;

    // Every Done task goes: a matching count of pending tasks alone stays as it is.
    CountChange change;
    change.perDoneRowRemoved = true;
    change.matchingKnown = m_filterActive == 0;
    QSqlQuery &query = statement(TaskSql::removeDone());
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    return runCommand(query, false, change, [](TaskNameIndex &names, int, qint64) {
        names.removeDone();
        return true;
    });
}

// Counts the matching tasks that come before it: a read of the list index up to the task,
// where walking the pages would read them all again and again.
int TaskService::pageOfTask(qint64 id)
{
    if (!ready() || !validId(id))
        return 0;
    const TaskState task = taskState(id);
    if (!task.exists || !task.matches)
        return 0;
    QSqlQuery &created = statement(TaskSql::createdAt());
    created.bindValue(QStringLiteral(":id"), id);
    const bool found = created.exec() && created.next();
    const QVariant createdAt = found ? created.value(0) : QVariant();
    created.finish();
    if (!found)
        return 0;

    QSqlQuery &query = statement(TaskSql::countBefore(!m_filterName.isEmpty(), m_filterActive != -1,
                                                      createdAt.isNull()));
    bindFilters(query, m_auth->userId());
    query.bindValue(QStringLiteral(":id"), id);
    if (!createdAt.isNull())
        query.bindValue(QStringLiteral(":created"), createdAt);
    const bool counted = query.exec() && query.next();
    const qint64 before = counted ? query.value(0).toLongLong() : -1;
    query.finish();
    return before < 0 ? 0 : int(before / m_pageSize) + 1;
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
