#include "syncdetails.h"
#include "synclog.h"
#include "syncstore.h"
#include "taskdetailssql.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <limits>

namespace {

QDateTime timeFromEpoch(const QVariant &value)
{
    return value.isNull() ? QDateTime()
                          : QDateTime::fromSecsSinceEpoch(value.toLongLong(), Qt::UTC);
}

QString jsonList(const QStringList &values)
{
    return QString::fromUtf8(
            QJsonDocument(QJsonArray::fromStringList(values)).toJson(QJsonDocument::Compact));
}

bool run(QSqlQuery &query)
{
    if (query.exec())
        return true;
    qCWarning(lcSync) << "statement failed:" << query.lastError().text();
    return false;
}

// The tasks in scope, each found by its key: changed here since a change, not taken by the
// server yet, at one of the addresses, or of one of the UIDs. The statements read them first
// (CROSS JOIN keeps that order), so that no pass walks every task.
QString wantedTasks(const ItemScope &scope)
{
    if (scope.all)
        return QString();
    QString wanted = QStringLiteral(
            "WITH wanted(id) AS ("
            "SELECT task_id FROM task_changes WHERE user_id = :uid3 AND seq > :after "
            "UNION SELECT task_id FROM sync_items WHERE user_id = :uid4 "
            "AND (synced = 0 OR etag IS NULL OR etag = '')");
    if (!scope.hrefs.isEmpty())
        wanted += QStringLiteral(" UNION SELECT task_id FROM sync_items WHERE user_id = :uid5 "
                                 "AND href IN (SELECT value FROM json_each(:hrefs))");
    if (!scope.uids.isEmpty())
        wanted += QStringLiteral(" UNION SELECT task_id FROM sync_items WHERE user_id = :uid6 "
                                 "AND uid IN (SELECT value FROM json_each(:uids))"
                                 " UNION SELECT task_id FROM task_uids WHERE user_id = :uid7 "
                                 "AND uid IN (SELECT value FROM json_each(:uids2))");
    return wanted + QStringLiteral(") ");
}

void bindScope(QSqlQuery &query, qint64 userId, const ItemScope &scope)
{
    if (scope.all)
        return;
    query.bindValue(QStringLiteral(":uid3"), userId);
    query.bindValue(QStringLiteral(":uid4"), userId);
    query.bindValue(QStringLiteral(":after"), scope.changedAfter);
    if (!scope.hrefs.isEmpty()) {
        query.bindValue(QStringLiteral(":uid5"), userId);
        query.bindValue(QStringLiteral(":hrefs"), jsonList(scope.hrefs));
    }
    if (!scope.uids.isEmpty()) {
        query.bindValue(QStringLiteral(":uid6"), userId);
        query.bindValue(QStringLiteral(":uid7"), userId);
        query.bindValue(QStringLiteral(":uids"), jsonList(scope.uids));
        query.bindValue(QStringLiteral(":uids2"), jsonList(scope.uids));
    }
}

} // namespace

QList<SyncItem> SyncStore::loadItems(qint64 userId, bool *ok, const ItemScope &scope)
{
    return loadItemPage(userId, scope, -1, std::numeric_limits<int>::max(), ok);
}

// The tasks in id order from afterId on, each with its row; once they come back fewer than
// limit, the rows whose task is gone.
QList<SyncItem> SyncStore::loadItemPage(qint64 userId, const ItemScope &scope, qint64 afterId,
                                        int limit, bool *ok)
{
    if (ok)
        *ok = false;
    QList<SyncItem> items;
    QSqlQuery query(m_db);
    query.prepare(wantedTasks(scope)
                  + QStringLiteral(R"(
        SELECT t.id, 1, t.name, t.active, t.expire_at_epoch, i.task_id IS NOT NULL,
               COALESCE(i.uid, u.uid), i.href, i.etag, COALESCE(i.ical, u.calendar), i.synced,
               i.synced_name, i.synced_done, i.synced_due, i.changed_at, t.create_at,
               d.task_id IS NOT NULL, d.notes, d.priority, d.priority_raw, d.tags,
               i.synced_details, i.resend
        %1
            LEFT JOIN sync_items i ON i.task_id = t.id
            LEFT JOIN task_details d ON d.task_id = t.id
            LEFT JOIN task_uids u ON u.task_id = t.id AND u.user_id = t.user_id
        WHERE t.user_id = :uid AND t.id > :from ORDER BY t.id LIMIT :limit)")
                            .arg(scope.all ? QStringLiteral("FROM tasks t")
                                           : QStringLiteral("FROM wanted w CROSS JOIN tasks t "
                                                            "ON t.id = w.id")));
    query.bindValue(QStringLiteral(":uid"), userId);
    query.bindValue(QStringLiteral(":from"), afterId);
    query.bindValue(QStringLiteral(":limit"), limit);
    bindScope(query, userId, scope);
    if (!run(query))
        return items;
    readItems(query, items);
    if (items.size() < limit) {
        QSqlQuery gone(m_db);
        gone.prepare(
                wantedTasks(scope)
                + QStringLiteral(R"(
            SELECT i.task_id, 0, NULL, NULL, NULL, 1, i.uid, i.href, i.etag, i.ical, i.synced,
                   i.synced_name, i.synced_done, i.synced_due, i.changed_at, NULL,
                   0, NULL, NULL, NULL, NULL, i.synced_details, 0
            %1
            WHERE i.user_id = :uid AND NOT EXISTS (SELECT 1 FROM tasks t WHERE t.id = i.task_id))")
                          .arg(scope.all ? QStringLiteral("FROM sync_items i")
                                         : QStringLiteral("FROM wanted w CROSS JOIN sync_items i "
                                                          "ON i.task_id = w.id")));
        gone.bindValue(QStringLiteral(":uid"), userId);
        bindScope(gone, userId, scope);
        if (!run(gone))
            return items;
        readItems(gone, items);
    }
    if (ok)
        *ok = true;
    return items;
}

void SyncStore::readItems(QSqlQuery &query, QList<SyncItem> &items)
{
    while (query.next()) {
        SyncItem item;
        item.taskId = query.value(0).toLongLong();
        item.hasTask = query.value(1).toBool();
        item.local.name = query.value(2).toString();
        item.local.done = query.value(3).toInt() != 0;
        item.local.due = timeFromEpoch(query.value(4));
        item.tracked = query.value(5).toBool();
        item.uid = query.value(6).toString();
        item.href = query.value(7).toString();
        item.etag = query.value(8).toString().toUtf8();
        item.ical = query.value(9).toString();
        item.synced = query.value(10).toBool();
        item.acknowledged.name = query.value(11).toString();
        item.acknowledged.done = query.value(12).toInt() != 0;
        item.acknowledged.due = timeFromEpoch(query.value(13));
        item.changedAt = query.value(14).toLongLong();
        item.created = QDateTime::fromString(query.value(15).toString(),
                                             QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        item.created.setTimeSpec(Qt::UTC);
        if (query.value(16).toBool())
            item.details = TaskDetailsSql::read(query, 17);
        item.syncedDetails = SyncDetails::decode(query.value(21));
        item.resend = query.value(22).toBool();
        items.append(item);
    }
}

bool SyncStore::refreshTask(qint64 userId, SyncItem &item)
{
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT t.name, t.active, t.expire_at_epoch, "
                                 "(SELECT changed_at FROM sync_items WHERE task_id = t.id), "
                                 "d.task_id IS NOT NULL, d.notes, d.priority, d.priority_raw, "
                                 "d.tags FROM tasks t LEFT JOIN task_details d ON d.task_id = t.id "
                                 "WHERE t.id = :task AND t.user_id = :uid"));
    query.bindValue(QStringLiteral(":task"), item.taskId);
    query.bindValue(QStringLiteral(":uid"), userId);
    if (!run(query))
        return false;
    item.hasTask = query.next();
    if (item.hasTask) {
        item.local.name = query.value(0).toString();
        item.local.done = query.value(1).toInt() != 0;
        item.local.due = timeFromEpoch(query.value(2));
        item.changedAt = std::max(item.changedAt, query.value(3).toLongLong());
        item.details.reset();
        if (query.value(4).toBool())
            item.details = TaskDetailsSql::read(query, 5);
    }
    return true;
}
