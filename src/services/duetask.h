#pragma once

#include <QString>
#include <QVariantMap>

// A pending task of the signed-in user with a due time, as the reminder check walks them.
struct DueTask
{
    qint64 id = 0;
    QString name;
    QString expireAtText; // local time, "yyyy-MM-dd HH:mm"
    qint64 expireAtEpoch = 0;

    // The map QML receives from nextDueTask.
    QVariantMap toMap() const
    {
        return { { QStringLiteral("id"), id },
                 { QStringLiteral("name"), name },
                 { QStringLiteral("expire_at_text"), expireAtText },
                 { QStringLiteral("expire_at_epoch"), expireAtEpoch } };
    }
};
