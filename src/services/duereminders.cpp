// The reminders that have come, each at its task's own lead time: part of DueTasks.
#include "authservice.h"
#include "duetasks.h"
#include "storedtime.h"
#include "tasksql.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>

QList<DueTask> DueTasks::remindersDue(qint64 fromEpoch, qint64 nowEpoch, int defaultLead)
{
    QList<DueTask> due;
    if (!ready() || fromEpoch > nowEpoch)
        return due;
    const qint64 userId = m_auth->userId();
    const auto read = [&](QSqlQuery &query, int lead) {
        query.bindValue(QStringLiteral(":uid"), userId);
        query.bindValue(QStringLiteral(":now"), fromEpoch);
        query.bindValue(QStringLiteral(":lim"),
                        StoredTime::saturatingAdd(nowEpoch, qint64(lead) * 60));
        if (query.exec()) {
            while (query.next()) {
                const qint64 epoch = query.value(2).toLongLong();
                due.append(DueTask { query.value(0).toLongLong(), query.value(1).toString(),
                                     StoredTime::reminderText(epoch), epoch });
            }
        }
        query.finish();
    };
    if (defaultLead >= 0)
        read(statement(TaskSql::dueAtAccountLead()), defaultLead);
    // A task without a reminder has a negative lead: the walk starts above it.
    int after = -1;
    for (;;) {
        QSqlQuery &next = statement(TaskSql::nextReminderLead());
        next.bindValue(QStringLiteral(":uid"), userId);
        next.bindValue(QStringLiteral(":after"), after);
        const bool found = next.exec() && next.next() && !next.value(0).isNull();
        const int lead = found ? next.value(0).toInt() : 0;
        next.finish();
        if (!found)
            break;
        QSqlQuery &query = statement(TaskSql::dueAtLead());
        query.bindValue(QStringLiteral(":lead"), lead);
        read(query, lead);
        after = lead;
    }
    std::sort(due.begin(), due.end(), [](const DueTask &a, const DueTask &b) {
        return a.expireAtEpoch != b.expireAtEpoch ? a.expireAtEpoch < b.expireAtEpoch : a.id < b.id;
    });
    return due;
}
