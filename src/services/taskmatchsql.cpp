#include "taskmatchsql.h"

namespace TaskMatchSql {

namespace {

// The columns of a page in the "due soonest" order, as its index reads the due time: tasks
// without one last.
const auto kSoonestColumns =
        QStringLiteral("SELECT t.id, t.name, t.active, t.expire_at, t.create_at, "
                       "ifnull(t.expire_at_epoch, 9223372036854775807) AS due_key FROM ");

// The filters applied again to each task found, then the order and the page. CROSS JOIN keeps
// the matches as the outer loop, so that no index in the list's order is walked instead.
QString soonestTail(bool byDone, bool fromEnd)
{
    return QStringLiteral(" WHERE t.user_id = :uid AND t.name LIKE :name")
           + (byDone ? QStringLiteral(" AND t.active = :active") : QString())
           + (fromEnd ? QStringLiteral(" ORDER BY due_key DESC, t.id DESC")
                      : QStringLiteral(" ORDER BY due_key ASC, t.id ASC"))
           + QStringLiteral(" LIMIT :lim OFFSET :off");
}

} // namespace

QString soonestRowsOfIds(bool byDone, bool fromEnd)
{
    return kSoonestColumns
           + QStringLiteral("json_each(:ids) AS j CROSS JOIN tasks AS t ON t.id = j.value")
           + soonestTail(byDone, fromEnd);
}

QString soonestRowsByTrigram(bool byDone, bool fromEnd)
{
    return kSoonestColumns
           + QStringLiteral("tasks_trigram AS g CROSS JOIN tasks AS t ON t.id = g.rowid AND "
                            "g.name LIKE :name AND g.user_id = :uid")
           + soonestTail(byDone, fromEnd);
}

} // namespace TaskMatchSql
