#include "tasklistreader.h"

#include "storedtime.h"
#include "taskcounter.h"
#include "taskdetailssql.h"
#include "tasklistcontext.h"
#include "tasknamesearch.h"
#include "tasksql.h"
#include "taskstore.h"
#include "tasktablemodel.h"

#include <QSqlQuery>

#include <algorithm>

namespace {

// The trigram index answers a LIKE pattern holding a run of at least three characters that are
// no wildcards; for shorter terms it would read every entry.
bool hasTrigramRun(const QString &pattern)
{
    if (pattern.size() >= TaskListContext::kLongestIndexedTerm)
        return false;
    int run = 0;
    for (const uint c : pattern.toUcs4()) {
        run = (c == '%' || c == '_') ? 0 : run + 1;
        if (run >= 3)
            return true;
    }
    return false;
}

// A row of the list as the page statements select it, and the key of the order it was read
// in (its creation time, or for the "due soonest" order the sixth column).
TaskRow rowOf(const QSqlQuery &query, QVariant *key, bool soonest = false)
{
    TaskRow row;
    row.id = query.value(0).toLongLong();
    row.name = query.value(1).toString();
    row.active = query.value(2).toBool();
    row.expireAt = StoredTime::read(query.value(3));
    row.createAt = StoredTime::read(query.value(4));
    *key = query.value(soonest ? 5 : 4);
    return row;
}

} // namespace

TaskListReader::TaskListReader(TaskListContext *context, TaskCounter *counter,
                               TaskNameSearch *names, TaskTableModel *model, QObject *parent)
    : QObject(parent)
    , m_context(context)
    , m_counter(counter)
    , m_names(names)
    , m_model(model)
{
}

// Whether the page next to the one loaded last can be read from that page's edge rows: nothing
// changed since, and no task lacks a creation time (those sort after every edge).
bool TaskListReader::besideEdges(qint64 userId, int page, const DataStamp *stamp)
{
    if (!stamp || !m_edges.valid || !(m_edges.stamp == *stamp) || m_edges.userId != userId
        || m_edges.filterName != m_context->filterName
        || m_edges.filterActive != m_context->filterActive
        || m_edges.filterTag != m_context->filterTag || m_edges.order != int(m_context->order)
        || m_context->order == TaskListContext::Order::Priority
        || m_edges.pageSize != m_context->pageSize || std::abs(page - m_edges.page) != 1
        || m_edges.firstCreated.isNull() || m_edges.lastCreated.isNull())
        return false;
    // Every task has a key in the "due soonest" order.
    if (m_context->order == TaskListContext::Order::DueSoonest)
        return true;
    QSqlQuery &query = m_context->statement(TaskSql::hasUndated());
    query.bindValue(QStringLiteral(":uid"), userId);
    const bool undated = !query.exec() || !query.next() || query.value(0).toBool();
    query.finish();
    return !undated;
}

// The page's rows, in the list's order, read the cheapest way that gives exactly them: next to
// the page loaded last (a flip), from the nearer end of the list when the page lies past the
// middle, or through the trigram index (matches looked up and sorted).
bool TaskListReader::queryRows(qint64 userId, int page, qint64 matching, const DataStamp *stamp,
                               bool viaTrigram, QList<TaskRow> &rows)
{
    const int pageSize = m_context->pageSize;
    const bool byName = !m_context->filterName.isEmpty();
    const bool byDone = m_context->filterActive != -1;
    const bool byTag = !m_context->filterTag.isEmpty();
    const bool soonest = m_context->order == TaskListContext::Order::DueSoonest;
    const bool byPriority = m_context->order == TaskListContext::Order::Priority;
    qint64 offset = qint64(page - 1) * pageSize;
    qint64 limit = pageSize;
    bool reversed = false;
    QString sql;
    const bool beside = !viaTrigram && besideEdges(userId, page, stamp);
    if (beside) {
        reversed = page < m_edges.page;
        sql = soonest ? TaskSql::pageRowsSoonestBeside(byName, byDone, byTag, !reversed)
                      : TaskSql::pageRowsBeside(byName, byDone, !reversed, byTag);
    } else {
        if (matching >= 0 && offset > 0) {
            const qint64 end = std::min(offset + pageSize, matching);
            if (end > offset && matching - end < offset) {
                reversed = true;
                limit = end - offset;
                offset = matching - end;
            }
        }
        sql = viaTrigram   ? TaskSql::pageRowsByTrigram(byDone, reversed)
              : soonest    ? TaskSql::pageRowsSoonest(byName, byDone, byTag, reversed)
              : byPriority ? TaskDetailsSql::pageRowsByPriority(byName, byDone, byTag, reversed)
              : reversed   ? TaskSql::pageRowsFromEnd(byName, byDone, byTag)
                           : TaskSql::pageRows(byName, byDone, byTag);
    }

    QSqlQuery &query = m_context->statement(sql);
    m_context->bindFilters(query, userId);
    query.bindValue(QStringLiteral(":lim"), limit);
    if (beside) {
        query.bindValue(soonest ? QStringLiteral(":due") : QStringLiteral(":created"),
                        reversed ? m_edges.firstCreated : m_edges.lastCreated);
        query.bindValue(QStringLiteral(":id"), reversed ? m_edges.firstId : m_edges.lastId);
    } else {
        query.bindValue(QStringLiteral(":off"), offset);
        if (byPriority)
            query.bindValue(QStringLiteral(":end"), offset + limit);
    }

    rows.clear();
    QList<QVariant> created;
    const bool ok = query.exec();
    if (ok) {
        while (query.next()) {
            QVariant createdAt;
            rows.append(rowOf(query, &createdAt, soonest));
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
        m_edges = PageEdges { true,
                              *stamp,
                              userId,
                              m_context->filterName,
                              m_context->filterActive,
                              m_context->filterTag,
                              int(m_context->order),
                              pageSize,
                              page,
                              created.first(),
                              rows.first().id,
                              created.last(),
                              rows.last().id };
    }
    return ok;
}

bool TaskListReader::rowsByNames(const std::vector<quint32> &places, int page, QList<TaskRow> &rows)
{
    rows.clear();
    m_edges.valid = false;
    const size_t first = size_t(page - 1) * size_t(m_context->pageSize);
    const size_t end = std::min(first + size_t(m_context->pageSize), places.size());
    QSqlQuery &query = m_context->statement(TaskSql::rowById());
    for (size_t i = first; i < end; ++i) {
        query.bindValue(QStringLiteral(":id"), m_names->idAt(places[i]));
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

// A page load is one read transaction: when another process holds the file locked, the load
// waits once, then gives up and leaves the list, the counters and the page as they were.
void TaskListReader::loadPage(int page)
{
    if (!m_context->ready())
        return;
    const qint64 userId = m_context->userId();
    QSqlDatabase database = m_context->database();
    const bool inTransaction = database.transaction();

    DataStamp stamp;
    bool busy = false;
    const bool stamped = m_context->currentStamp(stamp, &busy);
    const bool countersRead =
            !busy && m_counter->readCounters(userId, stamped ? &stamp : nullptr, &busy);
    if (busy) {
        qCWarning(lcTasks) << "the database is locked; the list was not reloaded";
        if (inTransaction)
            database.rollback();
        return;
    }
    if (stamped && countersRead)
        m_names->plan(userId, stamp, m_counter->counts().total);
    readPage(page, userId, stamped ? &stamp : nullptr, countersRead);
    if (inTransaction && !database.commit())
        database.rollback();
}

// Page flips and search keystrokes ask the same counting questions of unchanged data over and
// over; the answers are kept with the stamp of the data they were read from and reused while
// the stamp stays the same. The results are those of the full sequence: the matching count,
// the counters, the page count and clamping, then the page's rows.
void TaskListReader::readPage(int page, qint64 userId, const DataStamp *stamp, bool countersRead)
{
    const QString &filterName = m_context->filterName;
    const int filterActive = m_context->filterActive;
    const TaskCounts &counts = m_counter->counts();
    // In a large account the names held in memory give the matches of a search.
    // The names held and the trigram index give the newest-first order without a tag filter.
    const bool plain =
            m_context->order == TaskListContext::Order::Newest && m_context->filterTag.isEmpty();
    const std::vector<quint32> *byNames = plain ? m_names->matches(userId, stamp) : nullptr;
    const bool viaTrigram = plain && !byNames && !filterName.isEmpty() && stamp
                            && m_counter->trigramUsable(*stamp) && hasTrigramRun(filterName);

    // Without a name filter the matching count is one of the counters.
    int matching = 0;
    bool matchingKnown = false;
    if (byNames) {
        matching = int(byNames->size());
        matchingKnown = true;
    } else if (filterName.isEmpty() && countersRead) {
        matching = filterActive == -1  ? counts.total
                   : filterActive == 1 ? counts.active
                                       : counts.inactive;
        matchingKnown = true;
    } else if (const TaskCounts *kept = stamp ? m_counter->keptMatching(*stamp, userId) : nullptr) {
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
        if (queryRows(userId, 1, -1, stamp, false, rows) && rows.size() < m_context->pageSize) {
            matching = int(rows.size());
            matchingKnown = true;
        }
    }
    if (!matchingKnown)
        matching = m_counter->countMatching(userId, viaTrigram, &matchingKnown);
    m_counter->keepMatching(stamp, userId, matchingKnown, matching);

    if (countersRead)
        emit countsChanged();

    m_totalPages = int(std::max<qint64>(1, (qint64(matching) + m_context->pageSize - 1)
                                                   / m_context->pageSize));
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
            const qint64 offset = qint64(m_currentPage - 1) * m_context->pageSize;
            const qint64 nearer = std::min(offset, std::max<qint64>(0, matching - offset));
            const double walked = double(nearer + m_context->pageSize) * double(counts.total)
                                  / double(std::max(matching, 1));
            sortMatches = 8.0 * double(matching) < walked;
        }
        queryRows(userId, m_currentPage, matchingKnown ? matching : -1, stamp, sortMatches, rows);
    }
    TaskDetailsSql::fillRows(m_context->statement(TaskDetailsSql::forTask()), userId, rows);
    if (m_model) {
        TaskStore::describeRepeats(m_context->database(), userId, rows);
        m_model->setRows(std::move(rows));
    }
}
