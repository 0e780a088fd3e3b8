#include "taskdetailssql.h"

#include "tasksql.h"

#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace TaskDetailsSql {

namespace {

// The tasks with a priority, in the order of the priority index (d for task_details first,
// so that it is read in order).
QString withPriority(bool byName, bool byDone, bool byTag)
{
    return QStringLiteral("SELECT t.id, t.name, t.active, t.expire_at, t.create_at "
                          "FROM task_details d CROSS JOIN tasks t ON t.id = d.task_id "
                          "WHERE d.user_id = :uid AND t.user_id = :uid AND d.priority > 0")
           + TaskSql::filterSql(byName, byDone, byTag);
}

QString withoutPriority(bool byName, bool byDone, bool byTag)
{
    return QStringLiteral("SELECT id, name, active, expire_at, create_at FROM tasks "
                          "WHERE user_id = :uid AND NOT EXISTS (SELECT 1 FROM task_details d "
                          "WHERE d.task_id = tasks.id AND d.priority > 0)")
           + TaskSql::filterSql(byName, byDone, byTag);
}

} // namespace

QString pageRowsByPriority(bool byName, bool byDone, bool byTag, bool fromEnd)
{
    const QString first = withPriority(byName, byDone, byTag)
                          + (fromEnd ? QStringLiteral(" ORDER BY d.priority ASC, d.task_id ASC")
                                     : QStringLiteral(" ORDER BY d.priority DESC, d.task_id DESC"))
                          + QStringLiteral(" LIMIT :end");
    const QString rest = withoutPriority(byName, byDone, byTag)
                         + (fromEnd ? QStringLiteral(" ORDER BY create_at ASC, id ASC")
                                    : QStringLiteral(" ORDER BY create_at DESC, id DESC"))
                         + QStringLiteral(" LIMIT :end");
    return QStringLiteral("SELECT * FROM (") + (fromEnd ? rest : first)
           + QStringLiteral(") UNION ALL SELECT * FROM (") + (fromEnd ? first : rest)
           + QStringLiteral(") LIMIT :lim OFFSET :off");
}

// Each part read from its place in its index, the edge's priority split in two (SQLite seeks
// on the first column of a row value only, and a priority has many tasks): the rest of the
// edge's priority after it, the lower priorities, then (later) the tasks without a priority
// from their start; or the tasks without a priority after the edge alone. Before the edge, the
// same mirrored.
QString pageRowsByPriorityBeside(bool byName, bool byDone, bool byTag, bool later,
                                 bool edgeHasPriority)
{
    const QString first = withPriority(byName, byDone, byTag);
    const QString rest = withoutPriority(byName, byDone, byTag);
    const QString limit = QStringLiteral(" LIMIT :lim");
    auto parts = [&](const QStringList &selects) {
        QString sql;
        for (const QString &select : selects) {
            sql += (sql.isEmpty() ? QStringLiteral("SELECT * FROM (")
                                  : QStringLiteral(" UNION ALL SELECT * FROM ("))
                   + select + limit + QStringLiteral(")");
        }
        return sql + limit;
    };
    if (edgeHasPriority && later)
        return parts({ first
                               + QStringLiteral(" AND d.priority = :priority AND d.task_id < :id "
                                                "ORDER BY d.task_id DESC"),
                       first
                               + QStringLiteral(" AND d.priority < :priority "
                                                "ORDER BY d.priority DESC, d.task_id DESC"),
                       rest + QStringLiteral(" ORDER BY create_at DESC, id DESC") });
    if (edgeHasPriority)
        return parts({ first
                               + QStringLiteral(" AND d.priority = :priority AND d.task_id > :id "
                                                "ORDER BY d.task_id ASC"),
                       first
                               + QStringLiteral(" AND d.priority > :priority "
                                                "ORDER BY d.priority ASC, d.task_id ASC") });
    if (later)
        return rest
               + QStringLiteral(" AND (create_at, id) < (:created, :id) "
                                "ORDER BY create_at DESC, id DESC")
               + limit;
    return parts({ rest
                           + QStringLiteral(" AND (create_at, id) > (:created, :id) "
                                            "ORDER BY create_at ASC, id ASC"),
                   first + QStringLiteral(" ORDER BY d.priority ASC, d.task_id ASC") });
}

QString priorityOf()
{
    return QStringLiteral("SELECT ifnull((SELECT priority FROM task_details WHERE task_id = :id), "
                          "0), create_at FROM tasks WHERE id = :id");
}

QString countBeforeByPriority(bool byName, bool byDone, bool byTag)
{
    return QStringLiteral("SELECT COUNT(*) FROM (") + withPriority(byName, byDone, byTag)
           + QStringLiteral(" AND (:priority = 0 OR d.priority > :priority OR (d.priority = "
                            ":priority AND d.task_id > :id)))");
}

QString countBeforeWithoutPriority(bool byName, bool byDone, bool byTag, bool undated)
{
    return QStringLiteral("SELECT COUNT(*) FROM (") + withoutPriority(byName, byDone, byTag)
           + (undated ? QStringLiteral(" AND (create_at IS NOT NULL OR id > :id))")
                      : QStringLiteral(" AND (create_at, id) > (:created, :id))"));
}

QString store()
{
    return QStringLiteral("INSERT OR REPLACE INTO task_details (task_id, user_id, notes, priority, "
                          "priority_raw, tags) SELECT :id, :uid, :notes, :priority, :raw, :tags "
                          "WHERE EXISTS (SELECT 1 FROM tasks WHERE id = :id AND user_id = :uid)");
}

QString remove()
{
    return QStringLiteral("DELETE FROM task_details WHERE task_id = :id AND user_id = :uid");
}

QString removeTags()
{
    return QStringLiteral("DELETE FROM task_tags WHERE task_id = :id AND user_id = :uid");
}

QString removeOrphans()
{
    return QStringLiteral("DELETE FROM task_details WHERE user_id = :uid AND NOT EXISTS "
                          "(SELECT 1 FROM tasks WHERE tasks.id = task_details.task_id)");
}

QString removeOrphanTags()
{
    return QStringLiteral("DELETE FROM task_tags WHERE user_id = :uid AND NOT EXISTS "
                          "(SELECT 1 FROM tasks WHERE tasks.id = task_tags.task_id)");
}

QString storeTag()
{
    return QStringLiteral(
            "INSERT OR IGNORE INTO task_tags (user_id, tag, task_id) VALUES (:uid, :tag, :id)");
}

QString forTask()
{
    return QStringLiteral(
            "SELECT notes, priority, priority_raw, tags FROM task_details WHERE task_id = :id "
            "AND user_id = :uid");
}

QString accountTags()
{
    return QStringLiteral("SELECT DISTINCT tag FROM task_tags WHERE user_id = :uid ORDER BY tag");
}

TaskDetails read(const QSqlQuery &query, int first)
{
    TaskDetails details;
    details.notes = query.value(first).toString();
    details.priority = qBound(0, query.value(first + 1).toInt(), int(TaskDetails::High));
    details.priorityRaw = query.value(first + 2).isNull() ? -1 : query.value(first + 2).toInt();
    const QString tags = query.value(first + 3).toString();
    details.tags = tags.isEmpty() ? QStringList() : tags.split(QLatin1Char(','));
    return details;
}

void fillRows(QSqlQuery &query, qint64 userId, QList<TaskRow> &rows)
{
    for (TaskRow &row : rows) {
        query.bindValue(QStringLiteral(":id"), row.id);
        query.bindValue(QStringLiteral(":uid"), userId);
        if (query.exec() && query.next()) {
            const TaskDetails details = read(query);
            row.notes = details.notes;
            row.priority = details.priority;
            row.tags = details.tags;
        }
        query.finish();
    }
}

} // namespace TaskDetailsSql
