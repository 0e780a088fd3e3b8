// The rows beside a task an import has just inserted, written without first clearing rows that
// cannot be there: part of the task store.
#include "taskstore.h"

#include "icalnames.h"
#include "storedtime.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// The tables whose rows for a task the store otherwise clears, or looks up, before writing
// them, each keyed (or indexed) by task_id.
const char *const kClearedTables[] = { "task_uids",   "task_details",   "task_tags",
                                       "task_repeat", "task_reminders", "task_changed_here" };

QVariant textOrNull(const QString &text)
{
    return text.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(text);
}

} // namespace

// The tasks table hands out each id once (AUTOINCREMENT), above its sequence. When no row of
// those tables names an id above the sequence, a task inserted now has no rows there.
bool TaskStore::newTasksStartClean(bool &clean)
{
    QString sql = QStringLiteral("SELECT (SELECT MAX(m) FROM (");
    for (const char *table : kClearedTables)
        sql += QStringLiteral("SELECT MAX(task_id) AS m FROM %1 UNION ALL ")
                       .arg(QLatin1String(table));
    sql.chop(QStringLiteral(" UNION ALL ").size());
    sql += QStringLiteral(")), (SELECT seq FROM sqlite_sequence WHERE name = 'tasks')");
    QSqlQuery query(database());
    if (!query.exec(sql) || !query.next()) {
        m_lastError = query.lastError().text();
        return false;
    }
    const QVariant highest = query.value(0);
    const QVariant sequence = query.value(1);
    clean = highest.isNull()
            || (!sequence.isNull() && highest.toLongLong() <= sequence.toLongLong());
    query.finish();
    return true;
}

bool TaskStore::storeNewImported(qint64 userId, qint64 taskId, const QString &uid,
                                 const QString &calendar, const QDateTime &due,
                                 const TaskDetails *details)
{
    QSqlQuery &store = statement(
            QStringLiteral("INSERT OR REPLACE INTO task_uids (task_id, user_id, uid, calendar) "
                           "VALUES (:id, :uid, :ical_uid, :calendar)"));
    store.bindValue(QStringLiteral(":id"), taskId);
    store.bindValue(QStringLiteral(":uid"), userId);
    store.bindValue(QStringLiteral(":ical_uid"), uid);
    store.bindValue(QStringLiteral(":calendar"), textOrNull(calendar));
    // The due time as the list keeps it: whole seconds.
    const QDateTime kept =
            due.isValid()
                    ? QDateTime::fromSecsSinceEpoch(StoredTime::dueEpoch(due).toLongLong(), Qt::UTC)
                    : QDateTime();
    bool ok = run(store).ok
              && (!IcalNames::mentions(calendar, QLatin1String("RRULE"))
                  || repeatFromCalendar(userId, taskId, calendar))
              && reminderFromCalendar(userId, taskId, QString(), calendar, kept);
    if (!ok || !details)
        return ok;
    if (!details->isEmpty())
        ok = writeDetailRows(userId, taskId, *details);
    if (ok) {
        TaskChanges changes;
        changes.updated.append(taskId);
        announce(Origin::Import, changes);
    }
    return ok;
}
