#include "tasksql.h"

namespace TaskSql {

namespace {

QString filters(bool byName, bool byDone, bool byTag = false)
{
    QString sql;
    if (byName)
        sql += QStringLiteral(" AND name LIKE :name");
    if (byDone)
        sql += QStringLiteral(" AND active = :active");
    if (byTag)
        sql += QStringLiteral(
                " AND id IN (SELECT task_id FROM task_tags WHERE user_id = :uid AND tag = :tag)");
    return sql;
}

// The due time as the "due soonest" order and its index read it: tasks without one last.
const auto kDueKey = QStringLiteral("ifnull(expire_at_epoch, 9223372036854775807)");

QString soonestColumns()
{
    return QStringLiteral("SELECT id, name, active, expire_at, create_at, ") + kDueKey
           + QStringLiteral(" FROM tasks WHERE user_id = :uid");
}

} // namespace

QString filterSql(bool byName, bool byDone, bool byTag)
{
    return filters(byName, byDone, byTag);
}

QString stamp()
{
    return QStringLiteral("SELECT total_changes(), "
                          "(SELECT data_version FROM pragma_data_version), "
                          "(SELECT schema_version FROM pragma_schema_version)");
}

QString counters()
{
    return QStringLiteral("\n"
                          "    SELECT\n"
                          "        COUNT(*) AS total,\n"
                          "        SUM(active = 1) AS active,\n"
                          "        SUM(active = 0) AS inactive\n"
                          "    FROM tasks\n"
                          "    WHERE user_id = :uid\n");
}

QString countMatching(bool byName, bool byDone, bool byTag)
{
    return QStringLiteral("SELECT COUNT(*) FROM tasks WHERE user_id = :uid")
           + filters(byName, byDone, byTag);
}

// Newest first; rows created in the same second newest first too, by id.
QString pageRows(bool byName, bool byDone, bool byTag)
{
    return QStringLiteral("\n"
                          "    SELECT id, name, active, expire_at, create_at\n"
                          "    FROM tasks\n"
                          "    WHERE user_id = :uid\n"
                          "    ")
           + filters(byName, byDone, byTag)
           + QStringLiteral("\n"
                            "    ORDER BY create_at DESC, id DESC\n"
                            "    LIMIT :lim OFFSET :off\n"
                            "    ");
}

QString pageRowsFromEnd(bool byName, bool byDone, bool byTag)
{
    return QStringLiteral("SELECT id, name, active, expire_at, create_at FROM tasks "
                          "WHERE user_id = :uid")
           + filters(byName, byDone, byTag)
           + QStringLiteral(" ORDER BY create_at ASC, id ASC LIMIT :lim OFFSET :off");
}

QString pageRowsBeside(bool byName, bool byDone, bool older, bool byTag)
{
    return QStringLiteral("SELECT id, name, active, expire_at, create_at FROM tasks "
                          "WHERE user_id = :uid")
           + filters(byName, byDone, byTag)
           + (older ? QStringLiteral(" AND (create_at, id) < (:created, :id) "
                                     "ORDER BY create_at DESC, id DESC LIMIT :lim")
                    : QStringLiteral(" AND (create_at, id) > (:created, :id) "
                                     "ORDER BY create_at ASC, id ASC LIMIT :lim"));
}

QString pageRowsSoonest(bool byName, bool byDone, bool byTag, bool fromEnd)
{
    return soonestColumns() + filters(byName, byDone, byTag) + QStringLiteral(" ORDER BY ")
           + kDueKey + (fromEnd ? QStringLiteral(" DESC, id DESC") : QStringLiteral(" ASC, id ASC"))
           + QStringLiteral(" LIMIT :lim OFFSET :off");
}

// The rest of the edge's due time first, then the later (or earlier) due times: each part
// starts at its place in the index instead of walking ties from their first row.
QString pageRowsSoonestBeside(bool byName, bool byDone, bool byTag, bool later)
{
    const QString where = soonestColumns() + filters(byName, byDone, byTag);
    const QString ties = later ? QStringLiteral(" AND id > :id ORDER BY id ASC")
                               : QStringLiteral(" AND id < :id ORDER BY id DESC");
    const QString beyond =
            later ? QStringLiteral(" > :due ORDER BY ") + kDueKey + QStringLiteral(" ASC, id ASC")
                  : QStringLiteral(" < :due ORDER BY ") + kDueKey
                            + QStringLiteral(" DESC, id DESC");
    return QStringLiteral("SELECT * FROM (") + where + QStringLiteral(" AND ") + kDueKey
           + QStringLiteral(" = :due") + ties
           + QStringLiteral(" LIMIT :lim) UNION ALL SELECT * FROM (") + where
           + QStringLiteral(" AND ") + kDueKey + beyond + QStringLiteral(" LIMIT :lim) LIMIT :lim");
}

QString countBeforeSoonest(bool byName, bool byDone)
{
    return countMatching(byName, byDone, false) + QStringLiteral(" AND (") + kDueKey
           + QStringLiteral(" < :due OR (") + kDueKey + QStringLiteral(" = :due AND id < :id))");
}

QString dueKeyOf()
{
    return QStringLiteral("SELECT ") + kDueKey + QStringLiteral(" FROM tasks WHERE id = :id");
}

QString hasUndated()
{
    return QStringLiteral(
            "SELECT EXISTS (SELECT 1 FROM tasks WHERE user_id = :uid AND create_at IS NULL)");
}

QString trigramReady()
{
    return QStringLiteral(
            "SELECT (SELECT COUNT(*) FROM sqlite_master WHERE type = 'trigger' AND name IN "
            "('tasks_trigram_insert', 'tasks_trigram_delete', 'tasks_trigram_update')) = 3 "
            "AND NOT EXISTS (SELECT 1 FROM sqlite_master WHERE name = 'tasks_trigram_fill')");
}

QString countByTrigram(bool byDone)
{
    return QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM tasks_trigram "
                          "WHERE user_id = :uid AND name LIKE :name")
           + filters(false, byDone) + QStringLiteral(" LIMIT :cap)");
}

QString pageRowsByTrigram(bool byDone, bool fromEnd)
{
    return QStringLiteral("SELECT tasks.id, tasks.name, tasks.active, tasks.expire_at, "
                          "tasks.create_at FROM tasks_trigram CROSS JOIN tasks "
                          "ON tasks.id = tasks_trigram.rowid "
                          "WHERE tasks_trigram.name LIKE :name AND tasks_trigram.user_id = :uid "
                          "AND tasks.user_id = :uid AND tasks.name LIKE :name")
           + (byDone ? QStringLiteral(" AND tasks.active = :active") : QString())
           + (fromEnd ? QStringLiteral(" ORDER BY tasks.create_at ASC, tasks.id ASC")
                      : QStringLiteral(" ORDER BY tasks.create_at DESC, tasks.id DESC"))
           + QStringLiteral(" LIMIT :lim OFFSET :off");
}

namespace {

QString nameIndexRows(const QString &where, const QString &order)
{
    return QStringLiteral("SELECT id, CAST(name AS BLOB), NOT (name IS NULL OR (typeof(name) = "
                          "'blob' AND NOT (x'61' LIKE 'a'))), CASE WHEN active = 1 THEN 1 WHEN "
                          "active = 0 THEN 0 ELSE -1 END, "
                          "create_at FROM tasks WHERE user_id = :uid AND ")
           + where + QStringLiteral(" ORDER BY ") + order + QStringLiteral(" LIMIT :lim");
}

} // namespace

QString nameIndexFirst()
{
    return nameIndexRows(QStringLiteral("create_at IS NOT NULL"),
                         QStringLiteral("create_at DESC, id DESC"));
}

QString nameIndexAfter()
{
    return nameIndexRows(QStringLiteral("(create_at, id) < (:created, :id)"),
                         QStringLiteral("create_at DESC, id DESC"));
}

QString nameIndexUndated()
{
    return nameIndexRows(QStringLiteral("create_at IS NULL AND id < :id"),
                         QStringLiteral("id DESC"));
}

QString hasListIndex()
{
    return QStringLiteral("SELECT EXISTS (SELECT 1 FROM sqlite_master WHERE type = 'index' "
                          "AND name = 'idx_tasks_user_created')");
}

QString placeInList()
{
    return QStringLiteral("SELECT COUNT(*) FROM tasks WHERE user_id = :uid AND (create_at, id) > "
                          "(SELECT create_at, id FROM tasks WHERE id = :id)");
}

QString createdAt()
{
    return QStringLiteral("SELECT create_at FROM tasks WHERE id = :id");
}

QString countBefore(bool byName, bool byDone, bool undated)
{
    return countMatching(byName, byDone)
           + (undated ? QStringLiteral(" AND (create_at IS NOT NULL OR id > :id)")
                      : QStringLiteral(" AND (create_at, id) > (:created, :id)"));
}

QString taskRow()
{
    return QStringLiteral("SELECT name, expire_at FROM tasks WHERE id = :id AND user_id = :uid");
}

QString rowById()
{
    return QStringLiteral(
            "SELECT id, name, active, expire_at, create_at FROM tasks WHERE id = :id");
}

QString taskState(bool byName)
{
    return QStringLiteral("SELECT CASE WHEN active = 1 THEN 1 WHEN active = 0 THEN 0 ELSE -1 END, ")
           + (byName ? QStringLiteral("name LIKE :name") : QStringLiteral("1"))
           + QStringLiteral(" FROM tasks WHERE id = :id AND user_id = :uid");
}

QString likeMatch()
{
    return QStringLiteral("SELECT :value LIKE :name");
}

QString firstDue()
{
    return QStringLiteral("\n"
                          "        SELECT id, name, expire_at_epoch\n"
                          "        FROM tasks\n"
                          "        WHERE user_id = :uid\n"
                          "          AND active = 0\n"
                          "          AND expire_at_epoch IS NOT NULL\n"
                          "          AND expire_at_epoch BETWEEN :now AND :lim\n"
                          "        ORDER BY expire_at_epoch ASC\n"
                          "        LIMIT 1\n"
                          "    ");
}

// Ties in due time go by id, so that consecutive checks walk them in a stable order.
QString dueBetween()
{
    return QStringLiteral("SELECT id, name, expire_at_epoch\n"
                          "FROM tasks\n"
                          "WHERE user_id = :uid\n"
                          "  AND active = 0\n"
                          "  AND expire_at_epoch IS NOT NULL\n"
                          "  AND expire_at_epoch BETWEEN :now AND :lim\n"
                          "ORDER BY expire_at_epoch ASC, id ASC");
}

// Through the due-time index, each task's own lead looked up by its key.
QString dueAtAccountLead()
{
    return QStringLiteral("SELECT id, name, expire_at_epoch FROM tasks "
                          "WHERE user_id = :uid AND active = 0 AND expire_at_epoch IS NOT NULL "
                          "AND expire_at_epoch BETWEEN :now AND :lim AND NOT EXISTS "
                          "(SELECT 1 FROM task_reminders r WHERE r.task_id = tasks.id)");
}

QString nextReminderLead()
{
    return QStringLiteral("SELECT min(lead_minutes) FROM task_reminders "
                          "WHERE user_id = :uid AND lead_minutes > :after");
}

// The tasks due in the window first (CROSS JOIN keeps that order), then their leads by key.
QString dueAtLead()
{
    return QStringLiteral("SELECT t.id, t.name, t.expire_at_epoch FROM tasks t "
                          "CROSS JOIN task_reminders r ON r.task_id = t.id "
                          "WHERE t.user_id = :uid AND t.active = 0 "
                          "AND t.expire_at_epoch IS NOT NULL "
                          "AND t.expire_at_epoch BETWEEN :now AND :lim AND r.lead_minutes = :lead");
}

} // namespace TaskSql
