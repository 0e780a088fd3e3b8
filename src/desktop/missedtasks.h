#pragma once

#include <QSettings>
#include <QString>
#include <QtGlobal>

class DueTasks;

// Pending tasks that fell due while nobody watched: the program was closed, or the account was
// signed out. Each account's last reminder check is kept in the settings store; what fell due
// between that moment and now was missed.
class MissedTasks
{
public:
    struct Summary
    {
        int count = 0;
        qint64 earliestId = -1;
        QString earliestName;
        QString earliestExpireAtText;
    };

    explicit MissedTasks(DueTasks *due);

    // What fell due for the signed-in account since its last check and up to now; then now
    // becomes its last check. An account checked for the first time has missed nothing.
    Summary collect(qint64 userId);
    // The account is being watched up to this moment.
    void markChecked(qint64 userId);

private:
    QString key(qint64 userId) const;

    DueTasks *m_due = nullptr;
    QSettings m_settings;
};
