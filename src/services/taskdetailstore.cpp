// The notes, priority and tags of tasks, beside the tasks table: part of the task store.
#include "taskstore.h"

#include "taskdetailssql.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

QVariant textOrNull(const QString &text)
{
    return text.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(text);
}

} // namespace

// A row says the details are known here: the writer then writes them over those of the task's
// kept text. Details cleared here leave an empty row, so that the kept ones go too; an import
// of none leaves no row (the file's text is the kept text). The rows of one task change
// together or not at all.
bool TaskStore::storeDetails(qint64 userId, qint64 taskId, const TaskDetails &details,
                             Origin origin)
{
    const bool own = !m_inTransaction;
    if (own && !database().transaction()) {
        m_lastError = database().lastError().text();
        return false;
    }
    auto bindTask = [&](QSqlQuery &query) {
        query.bindValue(QStringLiteral(":id"), taskId);
        query.bindValue(QStringLiteral(":uid"), userId);
    };
    QSqlQuery &clearTags = statement(TaskDetailsSql::removeTags());
    bindTask(clearTags);
    bool ok = run(clearTags).ok;
    if (details.isEmpty() && origin == Origin::Import) {
        QSqlQuery &remove = statement(TaskDetailsSql::remove());
        bindTask(remove);
        ok = ok && run(remove).ok;
    } else {
        ok = ok && writeDetailRows(userId, taskId, details);
    }
    if (ok)
        noteChanged(taskId, origin);
    if (own && ok && !database().commit()) {
        m_lastError = database().lastError().text();
        ok = false;
    }
    if (!ok) {
        if (own)
            database().rollback();
        return false;
    }
    TaskChanges changes;
    changes.updated.append(taskId);
    announce(origin, changes);
    return true;
}

// A task of another account, or none, gets nothing.
bool TaskStore::writeDetailRows(qint64 userId, qint64 taskId, const TaskDetails &details)
{
    auto bindTask = [&](QSqlQuery &query) {
        query.bindValue(QStringLiteral(":id"), taskId);
        query.bindValue(QStringLiteral(":uid"), userId);
    };
    QSqlQuery &write = statement(TaskDetailsSql::store());
    bindTask(write);
    write.bindValue(QStringLiteral(":notes"), textOrNull(details.notes));
    write.bindValue(QStringLiteral(":priority"), details.priority);
    write.bindValue(QStringLiteral(":raw"), details.priorityRaw >= 0
                                                    ? QVariant(details.priorityRaw)
                                                    : QVariant(QMetaType::fromType<int>()));
    write.bindValue(QStringLiteral(":tags"), textOrNull(details.tags.join(QLatin1Char(','))));
    const Written written = run(write);
    bool ok = written.ok && written.affected > 0;
    for (int i = 0; ok && i < details.tags.size(); ++i) {
        QSqlQuery &tag = statement(TaskDetailsSql::storeTag());
        bindTask(tag);
        tag.bindValue(QStringLiteral(":tag"), details.tags.at(i));
        ok = run(tag).ok;
    }
    return ok;
}

// The details go after their task: a failure leaves rows no task reads, never a task without
// its details. Task 0 stands for every Done task just deleted.
void TaskStore::forgetDetails(qint64 userId, qint64 taskId)
{
    const QStringList statements =
            taskId > 0 ? QStringList { TaskDetailsSql::remove(), TaskDetailsSql::removeTags() }
                       : QStringList { TaskDetailsSql::removeOrphans(),
                                       TaskDetailsSql::removeOrphanTags() };
    for (const QString &sql : statements) {
        QSqlQuery &query = statement(sql);
        if (taskId > 0)
            query.bindValue(QStringLiteral(":id"), taskId);
        query.bindValue(QStringLiteral(":uid"), userId);
        run(query);
    }
}
