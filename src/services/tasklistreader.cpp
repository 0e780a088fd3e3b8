#include "tasklistreader.h"

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
    // In a large account the names held in memory give the matches of a search, in any order;
    // without them the trigram index counts them. Both give the matches of a name alone.
    const bool noTag = m_context->filterTag.isEmpty();
    const bool newest = m_context->order == TaskListContext::Order::Newest;
    const std::vector<quint32> *byNames = noTag ? m_names->matches(userId, stamp) : nullptr;
    const bool viaTrigram = noTag && m_context->order != TaskListContext::Order::Priority
                            && !byNames && !filterName.isEmpty() && stamp
                            && m_counter->trigramUsable(*stamp) && hasTrigramRun(filterName);
    const TaskCounts &counts = m_counter->counts();

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
        if (queryRows(userId, 1, -1, stamp, RowsVia::Walk, rows)
            && rows.size() < m_context->pageSize) {
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

    if (!rowsRead && matchingKnown && matching == 0) {
        // Nothing matches: no walk through the list to find that out again.
        rows.clear();
        m_edges.valid = false;
    } else if (!rowsRead && byNames && newest) {
        rowsByNames(*byNames, m_currentPage, rows);
    } else if (!rowsRead) {
        const qint64 known = matchingKnown ? matching : -1;
        const RowsVia via =
                cheaperRows(userId, m_currentPage, known, stamp, viaTrigram, byNames != nullptr);
        queryRows(userId, m_currentPage, known, stamp, via, rows, byNames);
    }
    TaskDetailsSql::fillRows(m_context->statement(TaskDetailsSql::forTask()), userId, rows);
    if (m_model) {
        TaskStore::describeRepeats(m_context->database(), userId, rows);
        m_model->setRows(std::move(rows));
    }
}
