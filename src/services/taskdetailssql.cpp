#include "taskdetailssql.h"

#include <QSqlQuery>
#include <QVariant>

namespace TaskDetailsSql {

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
            "SELECT notes, priority, priority_raw, tags FROM task_details WHERE task_id = :id");
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

void fillRows(QSqlQuery &query, QList<TaskRow> &rows)
{
    for (TaskRow &row : rows) {
        query.bindValue(QStringLiteral(":id"), row.id);
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
