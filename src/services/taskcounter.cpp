#include "taskcounter.h"

#include "taskdetailssql.h"
#include "tasklistcontext.h"
#include "tasksql.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

namespace {

// Counting a match through the trigram index costs about as much as scanning sixteen of the
// account's names: a term found in more tasks than that share is counted by the scan.
int trigramCountLimit(int accountTasks)
{
    return std::max(2000, accountTasks / 16);
}

} // namespace

TaskCounter::TaskCounter(TaskListContext *context)
    : m_context(context)
{
}

bool TaskCounter::readCounters(qint64 userId, const DataStamp *stamp, bool *busy)
{
    *busy = false;
    if (const TaskCounts *kept = stamp ? m_counters.find(*stamp, userId) : nullptr) {
        m_counts = *kept;
        return true;
    }
    m_counters.clear();

    QSqlQuery &query = m_context->statement(TaskSql::counters());
    query.bindValue(QStringLiteral(":uid"), userId);
    const bool found = query.exec() && query.next();
    if (found) {
        const TaskCounts counts { query.value(QStringLiteral("total")).toInt(),
                                  query.value(QStringLiteral("active")).toInt(),
                                  query.value(QStringLiteral("inactive")).toInt() };
        m_counts = counts;
        if (stamp)
            m_counters.keep(*stamp, userId, counts);
    }
    *busy = !found && TaskListContext::lockedOut(query);
    query.finish();
    return found;
}

// A term found in few tasks is counted on the trigram index, whose first matches tell; one
// found in many is counted by a scan of the account's names.
int TaskCounter::countMatching(qint64 userId, bool viaTrigram, bool *ok)
{
    const bool byName = !m_context->filterName.isEmpty();
    const bool byDone = m_context->filterActive != -1;
    if (viaTrigram) {
        const int limit = trigramCountLimit(m_counts.total);
        QSqlQuery &query = m_context->statement(TaskSql::countByTrigram(byDone));
        m_context->bindFilters(query, userId);
        query.bindValue(QStringLiteral(":cap"), limit);
        const bool found = query.exec() && query.next();
        const int count = found ? query.value(0).toInt() : 0;
        query.finish();
        if (found && count < limit) {
            *ok = true;
            return count;
        }
    }
    QSqlQuery &query = m_context->statement(
            TaskSql::countMatching(byName, byDone, !m_context->filterTag.isEmpty()));
    m_context->bindFilters(query, userId);
    *ok = query.exec() && query.next();
    const int count = *ok ? query.value(0).toInt() : 0;
    query.finish();
    return count;
}

const TaskCounts *TaskCounter::keptMatching(const DataStamp &stamp, qint64 userId) const
{
    return m_matching.find(stamp, userId, m_context->matchKey(), m_context->filterActive);
}

void TaskCounter::keepMatching(const DataStamp *stamp, qint64 userId, bool known, int matching)
{
    if (stamp && known)
        m_matching.keep(*stamp, userId, TaskCounts { matching }, m_context->matchKey(),
                        m_context->filterActive);
    else
        m_matching.clear();
}

// The trigram index is used once it is full and while all three triggers keep it in step with
// every writer; this is looked up again whenever the schema changes.
bool TaskCounter::trigramUsable(const DataStamp &stamp)
{
    if (stamp.schemaVersion != m_trigramSchema) {
        QSqlQuery &query = m_context->statement(TaskSql::trigramReady());
        m_trigram = query.exec() && query.next() && query.value(0).toBool();
        query.finish();
        m_trigramSchema = stamp.schemaVersion;
    }
    return m_trigram;
}

void TaskCounter::adjust(const DataStamp &before, const DataStamp &after, qint64 userId,
                         const TaskCounts &counters, const int *matching)
{
    m_counters.adjust(before, after, counters, userId);
    if (matching) {
        m_matching.adjust(before, after, TaskCounts { *matching }, userId, m_context->matchKey(),
                          m_context->filterActive);
    } else {
        m_matching.clear();
    }
}

TaskCounter::TaskState TaskCounter::taskState(qint64 id)
{
    TaskState task;
    const bool byName = !m_context->filterName.isEmpty();
    QSqlQuery &query = m_context->statement(TaskSql::taskState(byName));
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":uid"), m_context->userId());
    if (byName)
        query.bindValue(QStringLiteral(":name"), m_context->namePattern());
    const bool ran = query.exec();
    task.busy = !ran && TaskListContext::lockedOut(query);
    if (ran && query.next()) {
        task.exists = true;
        task.active = query.value(0).toInt();
        // LIKE itself tells, so a name it never matches (NULL, stored as bytes) does not match.
        task.matches = query.value(1).toInt() == 1
                       && (m_context->filterActive == -1 || task.active == m_context->filterActive);
    }
    query.finish();
    return task;
}

// Counts the matching tasks that come before it: a read of the list index up to the task,
// where walking the pages would read them all again and again.
int TaskCounter::pageOfTask(qint64 id)
{
    if (!m_context->ready() || !TaskListContext::validId(id))
        return 0;
    // The tag filter is not told apart here: the first page stands for the task.
    const TaskState task = taskState(id);
    if (!task.exists || !task.matches || !m_context->filterTag.isEmpty())
        return 0;
    if (m_context->order == TaskListContext::Order::DueSoonest)
        return pageInSoonest(id);
    if (m_context->order == TaskListContext::Order::Priority)
        return pageInPriority(id);
    QSqlQuery &created = m_context->statement(TaskSql::createdAt());
    created.bindValue(QStringLiteral(":id"), id);
    const bool found = created.exec() && created.next();
    const QVariant createdAt = found ? created.value(0) : QVariant();
    created.finish();
    if (!found)
        return 0;

    QSqlQuery &query = m_context->statement(TaskSql::countBefore(
            !m_context->filterName.isEmpty(), m_context->filterActive != -1, createdAt.isNull()));
    m_context->bindFilters(query, m_context->userId());
    query.bindValue(QStringLiteral(":id"), id);
    if (!createdAt.isNull())
        query.bindValue(QStringLiteral(":created"), createdAt);
    const bool counted = query.exec() && query.next();
    const qint64 before = counted ? query.value(0).toLongLong() : -1;
    query.finish();
    return before < 0 ? 0 : int(before / m_context->pageSize) + 1;
}

int TaskCounter::pageInSoonest(qint64 id)
{
    QSqlQuery &key = m_context->statement(TaskSql::dueKeyOf());
    key.bindValue(QStringLiteral(":id"), id);
    const bool found = key.exec() && key.next();
    const QVariant due = found ? key.value(0) : QVariant();
    key.finish();
    if (!found)
        return 0;
    QSqlQuery &query = m_context->statement(TaskSql::countBeforeSoonest(
            !m_context->filterName.isEmpty(), m_context->filterActive != -1));
    m_context->bindFilters(query, m_context->userId());
    query.bindValue(QStringLiteral(":due"), due);
    query.bindValue(QStringLiteral(":id"), id);
    const bool counted = query.exec() && query.next();
    const qint64 before = counted ? query.value(0).toLongLong() : -1;
    query.finish();
    return before < 0 ? 0 : int(before / m_context->pageSize) + 1;
}

// The tasks with a higher priority, or the same one and a higher id, come before a task with a
// priority; all of those and the newer tasks without one before a task without one.
int TaskCounter::pageInPriority(qint64 id)
{
    QSqlQuery &key = m_context->statement(TaskDetailsSql::priorityOf());
    key.bindValue(QStringLiteral(":id"), id);
    const bool found = key.exec() && key.next();
    const int priority = found ? key.value(0).toInt() : 0;
    const QVariant created = found ? key.value(1) : QVariant();
    key.finish();
    if (!found)
        return 0;
    const bool byName = !m_context->filterName.isEmpty();
    const bool byDone = m_context->filterActive != -1;
    qint64 before = 0;
    for (int part = 0; part < (priority > 0 ? 1 : 2); ++part) {
        QSqlQuery &query = m_context->statement(
                part == 0 ? TaskDetailsSql::countBeforeByPriority(byName, byDone, false)
                          : TaskDetailsSql::countBeforeWithoutPriority(byName, byDone, false,
                                                                       created.isNull()));
        m_context->bindFilters(query, m_context->userId());
        query.bindValue(QStringLiteral(":id"), id);
        if (part == 0)
            query.bindValue(QStringLiteral(":priority"), priority);
        else if (!created.isNull())
            query.bindValue(QStringLiteral(":created"), created);
        const bool counted = query.exec() && query.next();
        before = counted && before >= 0 ? before + query.value(0).toLongLong() : -1;
        query.finish();
    }
    return before < 0 ? 0 : int(before / m_context->pageSize) + 1;
}
