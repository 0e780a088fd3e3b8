// How the task list finds a page's rows: next to the page shown, from the nearer end of the
// list, or from the search's matches alone, whichever reads the fewest entries.
#include "tasklistreader.h"

#include "storedtime.h"
#include "taskcounter.h"
#include "taskdetailssql.h"
#include "tasklistcontext.h"
#include "taskmatchsql.h"
#include "tasknamesearch.h"
#include "tasksql.h"
#include "taskstore.h"

#include <QSqlQuery>

#include <algorithm>

namespace {

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

// The ids at the places of the page's matches as a JSON array.
QString idsOf(const TaskNameSearch &names, const std::vector<quint32> &places)
{
    QByteArray text;
    text.reserve(qsizetype(places.size()) * 8 + 2);
    text += '[';
    for (const quint32 place : places) {
        if (text.size() > 1)
            text += ',';
        text += QByteArray::number(names.idAt(place));
    }
    text += ']';
    return QString::fromLatin1(text);
}

} // namespace

// Whether the page next to the one loaded last can be read from that page's edge rows: nothing
// changed since, and no task lacks a creation time (those sort after every edge).
bool TaskListReader::besideEdges(qint64 userId, int page, const DataStamp *stamp)
{
    if (!stamp || !m_edges.valid || !(m_edges.stamp == *stamp) || m_edges.userId != userId
        || m_edges.filterName != m_context->filterName
        || m_edges.filterActive != m_context->filterActive
        || m_edges.filterTag != m_context->filterTag || m_edges.order != int(m_context->order)
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

// A search's matches, when known, can be looked up one by one and sorted; walking the list in
// its order reads about (rows skipped and shown) x (all tasks / matches) entries instead, and
// a lookup costs about as much as reading eight entries.
TaskListReader::RowsVia TaskListReader::cheaperRows(qint64 userId, int page, qint64 matching,
                                                    const DataStamp *stamp, bool viaTrigram,
                                                    bool viaIds)
{
    if ((!viaTrigram && !viaIds) || matching < 0
        || m_context->order == TaskListContext::Order::Priority)
        return RowsVia::Walk;
    const qint64 offset = qint64(page - 1) * m_context->pageSize;
    const qint64 nearer = besideEdges(userId, page, stamp)
                                  ? 0
                                  : std::min(offset, std::max<qint64>(0, matching - offset));
    const double walked = double(nearer + m_context->pageSize) * double(m_counter->counts().total)
                          / double(std::max<qint64>(matching, 1));
    if (8.0 * double(matching) >= walked)
        return RowsVia::Walk;
    return viaIds ? RowsVia::Ids : RowsVia::Trigram;
}

// The page's rows, in the list's order, read the cheapest way that gives exactly them: next to
// the page loaded last (a flip), from the nearer end of the list when the page lies past the
// middle, or from the matches (by the trigram index or the ids of the places given) sorted.
bool TaskListReader::queryRows(qint64 userId, int page, qint64 matching, const DataStamp *stamp,
                               RowsVia via, QList<TaskRow> &rows,
                               const std::vector<quint32> *places)
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
    const bool beside = via == RowsVia::Walk && besideEdges(userId, page, stamp);
    int edgePriority = 0;
    if (beside) {
        reversed = page < m_edges.page;
        edgePriority = reversed ? m_edges.firstPriority : m_edges.lastPriority;
        sql = soonest      ? TaskSql::pageRowsSoonestBeside(byName, byDone, byTag, !reversed)
              : byPriority ? TaskDetailsSql::pageRowsByPriorityBeside(byName, byDone, byTag,
                                                                      !reversed, edgePriority > 0)
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
        if (via == RowsVia::Ids)
            sql = TaskMatchSql::soonestRowsOfIds(byDone, reversed);
        else if (via == RowsVia::Trigram)
            sql = soonest ? TaskMatchSql::soonestRowsByTrigram(byDone, reversed)
                          : TaskSql::pageRowsByTrigram(byDone, reversed);
        else
            sql = soonest      ? TaskSql::pageRowsSoonest(byName, byDone, byTag, reversed)
                  : byPriority ? TaskDetailsSql::pageRowsByPriority(byName, byDone, byTag, reversed)
                  : reversed   ? TaskSql::pageRowsFromEnd(byName, byDone, byTag)
                               : TaskSql::pageRows(byName, byDone, byTag);
    }

    QSqlQuery &query = m_context->statement(sql);
    m_context->bindFilters(query, userId);
    query.bindValue(QStringLiteral(":lim"), limit);
    if (beside) {
        const QVariant &key = reversed ? m_edges.firstCreated : m_edges.lastCreated;
        if (soonest)
            query.bindValue(QStringLiteral(":due"), key);
        else if (edgePriority > 0)
            query.bindValue(QStringLiteral(":priority"), edgePriority);
        else
            query.bindValue(QStringLiteral(":created"), key);
        query.bindValue(QStringLiteral(":id"), reversed ? m_edges.firstId : m_edges.lastId);
    } else {
        query.bindValue(QStringLiteral(":off"), offset);
        if (byPriority && via == RowsVia::Walk)
            query.bindValue(QStringLiteral(":end"), offset + limit);
        if (via == RowsVia::Ids)
            query.bindValue(QStringLiteral(":ids"), places ? idsOf(*m_names, *places) : QString());
    }

    rows.clear();
    QList<QVariant> keys;
    const bool ok = query.exec();
    if (ok) {
        while (query.next()) {
            QVariant key;
            rows.append(rowOf(query, &key, soonest));
            keys.append(key);
        }
    }
    query.finish();
    if (reversed) {
        std::reverse(rows.begin(), rows.end());
        std::reverse(keys.begin(), keys.end());
    }
    m_edges.valid = false;
    if (ok)
        keepEdges(stamp, userId, page, rows, keys);
    return ok;
}

// The page's first and last rows and their keys in the order shown, for the flip to the page
// beside it.
void TaskListReader::keepEdges(const DataStamp *stamp, qint64 userId, int page,
                               const QList<TaskRow> &rows, const QList<QVariant> &keys)
{
    if (!stamp || rows.isEmpty())
        return;
    int priorities[2] = { 0, 0 };
    if (m_context->order == TaskListContext::Order::Priority) {
        QSqlQuery &query = m_context->statement(TaskDetailsSql::priorityOf());
        for (int edge = 0; edge < 2; ++edge) {
            query.bindValue(QStringLiteral(":id"), edge == 0 ? rows.first().id : rows.last().id);
            const bool found = query.exec() && query.next();
            priorities[edge] = found ? query.value(0).toInt() : 0;
            query.finish();
            if (!found)
                return;
        }
    }
    m_edges = PageEdges { true,
                          *stamp,
                          userId,
                          m_context->filterName,
                          m_context->filterActive,
                          m_context->filterTag,
                          int(m_context->order),
                          m_context->pageSize,
                          page,
                          keys.first(),
                          rows.first().id,
                          keys.last(),
                          rows.last().id,
                          priorities[0],
                          priorities[1] };
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
