#include "icaltaskstore.h"

#include "sqlitebusy.h"
#include "storedtime.h"

#include <QLoggingCategory>
#include <QSqlError>
#include <QTimeZone>
#include <QVariant>

Q_LOGGING_CATEGORY(lcIcalStore, "tarvik.ical.store", QtCriticalMsg)

namespace {

const auto kUidTable = QStringLiteral("CREATE TABLE IF NOT EXISTS task_uids (\n"
                                      "    task_id INTEGER PRIMARY KEY,\n"
                                      "    user_id INTEGER NOT NULL,\n"
                                      "    uid TEXT NOT NULL,\n"
                                      "    calendar TEXT,\n"
                                      "    UNIQUE (user_id, uid)\n"
                                      ");");

// The creation time in the form SQLite's CURRENT_TIMESTAMP writes.
QVariant createdValue(const QDateTime &created)
{
    return created.isValid()
                   ? QVariant(created.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                   : QVariant(QMetaType::fromType<QString>());
}

QVariant textValue(const QByteArray &text)
{
    return text.isEmpty() ? QVariant(QMetaType::fromType<QString>())
                          : QVariant(QString::fromUtf8(text));
}

} // namespace

IcalTaskStore::IcalTaskStore(const QSqlDatabase &database)
    : m_database(database)
    , m_find(database)
    , m_insert(database)
    , m_update(database)
    , m_storeUid(database)
{
}

bool IcalTaskStore::run(QSqlQuery &query)
{
    if (query.exec())
        return true;
    m_lastError = query.lastError().text();
    m_lockedOut = SqliteBusy::lockedOut(query.lastError());
    qCWarning(lcIcalStore) << "statement failed:" << m_lastError;
    return false;
}

bool IcalTaskStore::prepare()
{
    QSqlQuery create(m_database);
    if (!create.exec(kUidTable)) {
        m_lastError = create.lastError().text();
        m_lockedOut = SqliteBusy::lockedOut(create.lastError());
        qCWarning(lcIcalStore) << "cannot create the UID table:" << m_lastError;
        return false;
    }
    const bool prepared =
            m_find.prepare(
                    QStringLiteral("SELECT u.task_id FROM task_uids u\n"
                                   "JOIN tasks t ON t.id = u.task_id AND t.user_id = u.user_id\n"
                                   "WHERE u.user_id = :uid AND u.uid = :ical_uid"))
            && m_insert.prepare(QStringLiteral(
                    "INSERT INTO tasks (user_id, name, active, expire_at, expire_at_epoch, "
                    "create_at)\n"
                    "VALUES (:uid, :name, :active, :expire, :expire_at_epoch, "
                    "COALESCE(:created, CURRENT_TIMESTAMP))"))
            && m_update.prepare(
                    QStringLiteral("UPDATE tasks\n"
                                   "SET name = :name, active = :active, expire_at = :expire, "
                                   "expire_at_epoch = :expire_at_epoch\n"
                                   "WHERE id = :id AND user_id = :uid"))
            && m_storeUid.prepare(QStringLiteral(
                    "INSERT OR REPLACE INTO task_uids (task_id, user_id, uid, calendar)\n"
                    "VALUES (:id, :uid, :ical_uid, :calendar)"));
    if (!prepared) {
        m_lastError = m_database.lastError().text();
        qCWarning(lcIcalStore) << "cannot prepare:" << m_lastError;
    }
    return prepared;
}

bool IcalTaskStore::readTasks(qint64 userId, QList<IcalTask> &tasks)
{
    QSqlQuery query(m_database);
    query.prepare(QStringLiteral(
            "SELECT t.id, t.name, t.active, t.expire_at, t.expire_at_epoch, t.create_at, u.uid,\n"
            "       u.calendar\n"
            "FROM tasks t LEFT JOIN task_uids u ON u.task_id = t.id AND u.user_id = t.user_id\n"
            "WHERE t.user_id = :uid\n"
            "ORDER BY t.create_at, t.id"));
    query.bindValue(QStringLiteral(":uid"), userId);
    query.setForwardOnly(true);
    if (!run(query))
        return false;
    tasks.clear();
    while (query.next()) {
        IcalTask task;
        task.id = query.value(0).toLongLong();
        task.name = query.value(1).toString();
        task.done = query.value(2).toBool();
        task.due = query.value(4).isNull() ? StoredTime::read(query.value(3))
                                           : QDateTime::fromSecsSinceEpoch(
                                                   query.value(4).toLongLong(), QTimeZone::utc());
        task.created = StoredTime::read(query.value(5));
        task.uid = query.value(6).toString();
        task.calendar = query.value(7).toString().toUtf8();
        tasks.append(std::move(task));
    }
    return true;
}

qint64 IcalTaskStore::findTask(qint64 userId, const QString &uid)
{
    m_find.bindValue(QStringLiteral(":uid"), userId);
    m_find.bindValue(QStringLiteral(":ical_uid"), uid);
    if (!run(m_find))
        return -1;
    const qint64 id = m_find.next() ? m_find.value(0).toLongLong() : 0;
    m_find.finish();
    return id;
}

bool IcalTaskStore::insertTask(qint64 userId, IcalTask &task)
{
    m_insert.bindValue(QStringLiteral(":uid"), userId);
    m_insert.bindValue(QStringLiteral(":name"), task.name);
    m_insert.bindValue(QStringLiteral(":active"), task.done ? 1 : 0);
    m_insert.bindValue(QStringLiteral(":expire"), StoredTime::dueText(task.due));
    m_insert.bindValue(QStringLiteral(":expire_at_epoch"), StoredTime::dueEpoch(task.due));
    m_insert.bindValue(QStringLiteral(":created"), createdValue(task.created));
    if (!run(m_insert))
        return false;
    task.id = m_insert.lastInsertId().toLongLong();
    return task.id > 0 && storeUid(userId, task);
}

bool IcalTaskStore::updateTask(qint64 userId, const IcalTask &task)
{
    m_update.bindValue(QStringLiteral(":name"), task.name);
    m_update.bindValue(QStringLiteral(":active"), task.done ? 1 : 0);
    m_update.bindValue(QStringLiteral(":expire"), StoredTime::dueText(task.due));
    m_update.bindValue(QStringLiteral(":expire_at_epoch"), StoredTime::dueEpoch(task.due));
    m_update.bindValue(QStringLiteral(":id"), task.id);
    m_update.bindValue(QStringLiteral(":uid"), userId);
    return run(m_update) && storeUid(userId, task);
}

bool IcalTaskStore::storeUid(qint64 userId, const IcalTask &task)
{
    m_storeUid.bindValue(QStringLiteral(":id"), task.id);
    m_storeUid.bindValue(QStringLiteral(":uid"), userId);
    m_storeUid.bindValue(QStringLiteral(":ical_uid"), task.uid);
    m_storeUid.bindValue(QStringLiteral(":calendar"), textValue(task.calendar));
    return run(m_storeUid);
}
