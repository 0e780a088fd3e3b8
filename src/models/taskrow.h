#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

// One task as the table shows it; date-times are already in local time.
struct TaskRow
{
    qint64 id = 0;
    QString name;
    bool active = false; // the Done flag
    QDateTime expireAt;
    QDateTime createAt;
    QString repeatText; // the rule of a repeating task in words; empty for any other
    QString notes;
    int priority = 0; // none, low, medium, high: 0 to 3
    QStringList tags;
};
