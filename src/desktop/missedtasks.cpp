#include "missedtasks.h"

#include "duetasks.h"

#include <QDateTime>
#include <QVariant>

MissedTasks::MissedTasks(DueTasks *due)
    : m_due(due)
    , m_settings(QStringLiteral("Brellhaven"), QStringLiteral("TarvikQtQml"))
{
}

MissedTasks::Summary MissedTasks::collect(qint64 userId)
{
    Summary summary;
    const QVariant stored = m_settings.value(key(userId));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    markChecked(userId);
    bool ok = false;
    const qint64 since = stored.toLongLong(&ok);
    if (!ok || !m_due || since >= now)
        return summary;

    // A task set to no reminder is not missed: it would not have reminded.
    m_due->visitDueTasks(
            since + 1, now,
            [&summary](const DueTask &task) {
                if (summary.count++ == 0) {
                    summary.earliestId = task.id;
                    summary.earliestName = task.name;
                    summary.earliestExpireAtText = task.expireAtText;
                }
                return true;
            },
            true);
    return summary;
}

void MissedTasks::markChecked(qint64 userId)
{
    // On disk at once: after a crash the next start knows how far the watch went.
    m_settings.setValue(key(userId), QDateTime::currentSecsSinceEpoch());
    m_settings.sync();
}

QString MissedTasks::key(qint64 userId) const
{
    return QStringLiteral("lastReminderCheck/%1").arg(userId);
}
