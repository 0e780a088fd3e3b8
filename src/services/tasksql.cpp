#include "tasksql.h"

namespace TaskSql {

namespace {

QString filters(bool byName, bool byDone)
{
    QString sql;
    if (byName)
        sql += QStringLiteral(" AND name LIKE :name");
    if (byDone)
        sql += QStringLiteral(" AND active = :active");
    return sql;
}

} // namespace

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

QString countMatching(bool byName, bool byDone)
{
    return QStringLiteral("SELECT COUNT(*) FROM tasks WHERE user_id = :uid")
           + filters(byName, byDone);
}

// Newest first; rows created in the same second newest first too, by id.
QString pageRows(bool byName, bool byDone)
{
    return QStringLiteral("\n"
                          "    SELECT id, name, active, expire_at, create_at\n"
                          "    FROM tasks\n"
                          "    WHERE user_id = :uid\n"
                          "    ")
           + filters(byName, byDone)
           + QStringLiteral("\n"
                            "    ORDER BY create_at DESC, id DESC\n"
                            "    LIMIT :lim OFFSET :off\n"
                            "    ");
}

QString insert()
{
    return QStringLiteral(
            "\n"
            "        INSERT INTO tasks (user_id, name, active, expire_at, expire_at_epoch)\n"
            "        VALUES (:uid, :name, :active, :expire, :expire_at_epoch)\n"
            "    ");
}

QString update()
{
    return QStringLiteral("\n"
                          "        UPDATE tasks\n"
                          "        SET name = :name, active = :active, expire_at = :expire, "
                          "expire_at_epoch = :expire_at_epoch        \n"
                          "        WHERE id = :id AND user_id = :uid\n"
                          "    ");
}

QString remove()
{
    return QStringLiteral("DELETE FROM tasks WHERE id = :id AND user_id = :uid");
}

QString removeDone()
{
    return QStringLiteral("\n"
                          "        DELETE FROM tasks\n"
                          "        WHERE user_id = :uid AND active = 1\n"
                          "    ");
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

} // namespace TaskSql
