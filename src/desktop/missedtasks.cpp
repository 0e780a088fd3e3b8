#include "missedtasks.h"

#include "dbmanager.h"
#include "desktoplog.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

MissedTasks::MissedTasks(DbManager *db)
    : m_db(db)
    , m_settings(QStringLiteral("Brellhaven"), QStringLiteral("TarvikQtQml"))
{
}

MissedTasks::Summary MissedTasks::collect(qint64 userId)
{
    Summary summary;
    const QVariant stored = m_settings.value(key(userId));
    markChecked(userId);
    bool ok = false;
    const qint64 since = stored.toLongLong(&ok);
    if (!ok || !m_db || !m_db->database().isOpen())
        return summary;

    QSqlQuery query(m_db->database());
    query.prepare(QStringLiteral("SELECT id, name, expire_at_epoch, COUNT(*) OVER ()\n"
                                 "FROM tasks\n"
                                 "WHERE user_id = :uid\n"
                                 "  AND active = 0\n"
                                 "  AND expire_at_epoch > :since\n"
                                 "  AND expire_at_epoch <= :now\n"
                                 "ORDER BY expire_at_epoch ASC, id ASC\n"
                                 "LIMIT 1"));
    query.bindValue(QStringLiteral(":uid"), userId);
    query.bindValue(QStringLiteral(":since"), since);
    query.bindValue(QStringLiteral(":now"), QDateTime::currentSecsSinceEpoch());
    if (!query.exec()) {
        qCDebug(lcDesktop) << "cannot read missed tasks:" << query.lastError().text();
        return summary;
    }
    if (!query.next())
        return summary;
    summary.earliestId = query.value(0).toLongLong();
    summary.earliestName = query.value(1).toString();
    summary.earliestExpireAtText = QDateTime::fromSecsSinceEpoch(query.value(2).toLongLong())
                                           .toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    summary.count = query.value(3).toInt();
    return summary;
}

void MissedTasks::markChecked(qint64 userId)
{
    m_settings.setValue(key(userId), QDateTime::currentSecsSinceEpoch());
}

QString MissedTasks::key(qint64 userId) const
{
    return QStringLiteral("lastReminderCheck/%1").arg(userId);
}
