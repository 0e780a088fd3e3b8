#include "taskstore.h"

#include "sqlitebusy.h"

#include "dbmanager.h"
#include "storedtime.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <utility>

namespace {

// The window's statements keep the text they have always had, whitespace included.
QString insertSql()
{
    return QStringLiteral(
            "\n"
            "        INSERT INTO tasks (user_id, name, active, expire_at, expire_at_epoch)\n"
            "        VALUES (:uid, :name, :active, :expire, :expire_at_epoch)\n"
            "    ");
}

// The same with the task's own creation time, :created.
QString insertCreatedSql()
{
    return QStringLiteral("INSERT INTO tasks (user_id, name, active, expire_at, expire_at_epoch, "
                          "create_at) VALUES (:uid, :name, :active, :expire, :expire_at_epoch, "
                          ":created)");
}

QString updateSql()
{
    return QStringLiteral("\n"
                          "        UPDATE tasks\n"
                          "        SET name = :name, active = :active, expire_at = :expire, "
                          "expire_at_epoch = :expire_at_epoch        \n"
                          "        WHERE id = :id AND user_id = :uid\n"
                          "    ");
}

QString removeSql()
{
    return QStringLiteral("DELETE FROM tasks WHERE id = :id AND user_id = :uid");
}

QString removeDoneSql()
{
    return QStringLiteral("\n"
                          "        DELETE FROM tasks\n"
                          "        WHERE user_id = :uid AND active = 1\n"
                          "    ");
}

// Records the UID (:ical_uid) and iCalendar text of task :id of :uid.
QString storeUidSql()
{
    return QStringLiteral("INSERT OR REPLACE INTO task_uids (task_id, user_id, uid, calendar) "
                          "VALUES (:id, :uid, :ical_uid, :calendar)");
}

// The due time of task :id of :uid, and the iCalendar text it had.
QString keptCalendarSql()
{
    return QStringLiteral("SELECT t.expire_at_epoch, u.calendar FROM tasks t LEFT JOIN task_uids u "
                          "ON u.task_id = t.id WHERE t.id = :id AND t.user_id = :uid");
}

// When task :id was last changed here, by the window or the sync, in ms since 1970 (:ms).
QString stampChangedSql()
{
    return QStringLiteral(
            "INSERT OR REPLACE INTO task_changed_here (task_id, changed_ms) VALUES (:id, :ms)");
}

// An import took the task as a file has it: nothing here is newer.
QString clearChangedSql()
{
    return QStringLiteral("DELETE FROM task_changed_here WHERE task_id = :id");
}

} // namespace

TaskStore::TaskStore(DbManager *db, QObject *parent)
    : QObject(parent)
    , m_db(db)
{
}

TaskStore::TaskStore(const QSqlDatabase &database, QObject *parent)
    : QObject(parent)
    , m_database(database)
{
}

QSqlDatabase TaskStore::database() const
{
    return m_db ? m_db->database() : m_database;
}

QSqlQuery &TaskStore::statement(const QString &sql)
{
    return m_statements.statement(database(), sql);
}

TaskStore::Written TaskStore::run(QSqlQuery &query)
{
    Written written;
    written.ok = query.exec();
    if (written.ok) {
        written.affected = query.numRowsAffected();
        written.insertedId = query.lastInsertId().toLongLong();
    } else {
        m_lastError = query.lastError().text();
        written.busy = SqliteBusy::lockedOut(query.lastError());
    }
    query.finish();
    return written;
}

void TaskStore::noteChanged(qint64 id, Origin origin)
{
    QSqlQuery &query = statement(origin == Origin::Import ? clearChangedSql() : stampChangedSql());
    query.bindValue(QStringLiteral(":id"), id);
    if (origin != Origin::Import)
        query.bindValue(QStringLiteral(":ms"), QDateTime::currentMSecsSinceEpoch());
    // The task is written; without its stamp an import only cannot tell it is newer.
    if (!query.exec())
        qWarning("cannot note when task %lld changed: %s", id,
                 qPrintable(query.lastError().text()));
    query.finish();
}

void TaskStore::announce(Origin origin, const TaskChanges &changes)
{
    if (changes.isEmpty())
        return;
    if (!m_inTransaction) {
        emit tasksChanged(changes, origin);
        return;
    }
    if (m_pending.isEmpty() || m_pending.last().first != origin) {
        m_pending.append({ origin, changes });
        return;
    }
    TaskChanges &pending = m_pending.last().second;
    pending.created += changes.created;
    pending.updated += changes.updated;
    pending.deleted += changes.deleted;
    pending.doneDeleted = pending.doneDeleted || changes.doneDeleted;
}

// A task without a creation time of its own takes the column default, as the tasks table
// defines it; one that brings its own keeps it, in the same form.
TaskStore::Written TaskStore::insertTask(qint64 userId, const TaskValues &task, Origin origin,
                                         const QDateTime &created)
{
    const QVariant createdText = StoredTime::createdText(created);
    QSqlQuery &query = statement(createdText.isNull() ? insertSql() : insertCreatedSql());
    query.bindValue(QStringLiteral(":uid"), userId);
    query.bindValue(QStringLiteral(":name"), task.name);
    query.bindValue(QStringLiteral(":active"), task.done ? 1 : 0);
    query.bindValue(QStringLiteral(":expire"), StoredTime::dueText(task.due));
    query.bindValue(QStringLiteral(":expire_at_epoch"), StoredTime::dueEpoch(task.due));
    if (!createdText.isNull())
        query.bindValue(QStringLiteral(":created"), createdText);
    const Written written = run(query);
    if (written.ok && written.insertedId > 0) {
        if (origin != Origin::Import)
            noteChanged(written.insertedId, origin);
        TaskChanges changes;
        changes.created.append(written.insertedId);
        announce(origin, changes);
    }
    return written;
}

TaskStore::Written TaskStore::updateTask(qint64 userId, qint64 id, const TaskValues &task,
                                         Origin origin)
{
    QSqlQuery &query = statement(updateSql());
    query.bindValue(QStringLiteral(":name"), task.name);
    query.bindValue(QStringLiteral(":active"), task.done ? 1 : 0);
    query.bindValue(QStringLiteral(":expire"), StoredTime::dueText(task.due));
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":uid"), userId);
    query.bindValue(QStringLiteral(":expire_at_epoch"), StoredTime::dueEpoch(task.due));
    const Written written = run(query);
    if (written.affected > 0) {
        noteChanged(id, origin);
        TaskChanges changes;
        changes.updated.append(id);
        announce(origin, changes);
    }
    return written;
}

TaskStore::Written TaskStore::deleteTask(qint64 userId, qint64 id, Origin origin)
{
    QSqlQuery &query = statement(removeSql());
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":uid"), userId);
    const Written written = run(query);
    if (written.affected > 0)
        forgetRepeats(userId);
    if (written.affected > 0) {
        forgetDetails(userId, id);
        forgetReminders(userId, id);
        TaskChanges changes;
        changes.deleted.append(id);
        announce(origin, changes);
    }
    return written;
}

TaskStore::Written TaskStore::deleteDoneTasks(qint64 userId, Origin origin)
{
    QSqlQuery &query = statement(removeDoneSql());
    query.bindValue(QStringLiteral(":uid"), userId);
    const Written written = run(query);
    if (written.affected > 0)
        forgetRepeats(userId);
    if (written.affected > 0) {
        forgetDetails(userId, 0);
        forgetReminders(userId, 0);
        TaskChanges changes;
        changes.doneDeleted = true;
        announce(origin, changes);
    }
    return written;
}

bool TaskStore::storeUid(qint64 userId, qint64 taskId, const QString &uid, const QString &calendar)
{
    QSqlQuery &kept = statement(keptCalendarSql());
    kept.bindValue(QStringLiteral(":id"), taskId);
    kept.bindValue(QStringLiteral(":uid"), userId);
    const bool found = kept.exec() && kept.next();
    const QDateTime due =
            found && !kept.value(0).isNull()
                    ? QDateTime::fromSecsSinceEpoch(kept.value(0).toLongLong(), Qt::UTC)
                    : QDateTime();
    const QString before = found ? kept.value(1).toString() : QString();
    kept.finish();
    QSqlQuery &query = statement(storeUidSql());
    query.bindValue(QStringLiteral(":id"), taskId);
    query.bindValue(QStringLiteral(":uid"), userId);
    query.bindValue(QStringLiteral(":ical_uid"), uid);
    query.bindValue(QStringLiteral(":calendar"), calendar.isEmpty()
                                                         ? QVariant(QMetaType::fromType<QString>())
                                                         : QVariant(calendar));
    return run(query).ok && repeatFromCalendar(userId, taskId, calendar)
           && reminderFromCalendar(userId, taskId, before, calendar, due);
}

bool TaskStore::transaction(bool immediate)
{
    m_pending.clear();
    QSqlQuery begin(database());
    m_inTransaction =
            immediate ? begin.exec(QStringLiteral("BEGIN IMMEDIATE")) : database().transaction();
    const QSqlError error = immediate ? begin.lastError() : database().lastError();
    m_beginLockedOut = !m_inTransaction && SqliteBusy::lockedOut(error);
    if (!m_inTransaction)
        m_lastError = error.text();
    return m_inTransaction;
}

bool TaskStore::commit()
{
    QSqlDatabase connection = database();
    if (!connection.commit()) {
        m_lastError = connection.lastError().text();
        return false;
    }
    m_inTransaction = false;
    const auto pending = std::exchange(m_pending, {});
    for (const auto &[origin, changes] : pending)
        emit tasksChanged(changes, origin);
    return true;
}

void TaskStore::rollback()
{
    database().rollback();
    m_inTransaction = false;
    m_pending.clear();
}
