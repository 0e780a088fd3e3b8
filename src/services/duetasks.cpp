#include "duetasks.h"

#include "authservice.h"
#include "dbmanager.h"
#include "storedtime.h"
#include "tasksql.h"

#include <QDateTime>
#include <QSqlQuery>
#include <QVariant>

namespace {

// The tasks due in a stretch of time without those set to no reminder, as the due-between
// statement orders them.
QString remindedBetween()
{
    return QStringLiteral("SELECT id, name, expire_at_epoch FROM tasks "
                          "WHERE user_id = :uid AND active = 0 AND expire_at_epoch IS NOT NULL "
                          "AND expire_at_epoch BETWEEN :now AND :lim AND NOT EXISTS "
                          "(SELECT 1 FROM task_reminders r WHERE r.task_id = tasks.id "
                          "AND r.lead_minutes < 0) "
                          "ORDER BY expire_at_epoch ASC, id ASC");
}

} // namespace

DueTasks::DueTasks(DbManager *db, AuthService *auth)
    : m_db(db)
    , m_auth(auth)
{
}

bool DueTasks::ready() const
{
    return m_db && m_db->database().isOpen() && m_auth && m_auth->isLoggedIn();
}

QSqlQuery &DueTasks::statement(const QString &sql)
{
    return m_statements.statement(m_db->database(), sql);
}

QVariantMap DueTasks::nextDueTask(int withinMinutes)
{
    if (!ready())
        return {};
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QSqlQuery &query = statement(TaskSql::firstDue());
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    query.bindValue(QStringLiteral(":now"), now);
    query.bindValue(QStringLiteral(":lim"),
                    StoredTime::saturatingAdd(now, qint64(withinMinutes) * 60));
    QVariantMap next;
    if (query.exec() && query.next()) {
        const qint64 epoch = query.value(2).toLongLong();
        next = DueTask { query.value(0).toLongLong(), query.value(1).toString(),
                         StoredTime::reminderText(epoch), epoch }
                       .toMap();
    }
    query.finish();
    return next;
}

void DueTasks::visitDueTasks(qint64 fromEpoch, qint64 untilEpoch,
                             const std::function<bool(const DueTask &)> &visit, bool withReminder)
{
    if (!ready() || fromEpoch > untilEpoch)
        return;
    QSqlQuery &query = statement(withReminder ? remindedBetween() : TaskSql::dueBetween());
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    query.bindValue(QStringLiteral(":now"), fromEpoch);
    query.bindValue(QStringLiteral(":lim"), untilEpoch);
    if (query.exec()) {
        while (query.next()) {
            const qint64 epoch = query.value(2).toLongLong();
            if (!visit(DueTask { query.value(0).toLongLong(), query.value(1).toString(),
                                 StoredTime::reminderText(epoch), epoch }))
                break;
        }
    }
    query.finish();
}

QList<DueTask> DueTasks::dueTasks(int withinMinutes)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QList<DueTask> due;
    visitDueTasks(now, StoredTime::saturatingAdd(now, qint64(withinMinutes) * 60),
                  [&due](const DueTask &task) {
                      due.append(task);
                      return true;
                  });
    return due;
}
