#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

class QAudioOutput;
class QMediaPlayer;
class DueTasks;
class SettingsService;

// The reminder engine: once a minute, and whenever the wiring asks (after sign-in, after a
// task is saved), it announces a pending task of the signed-in user that falls due between the
// previous check and the end of the lead time and has not been announced for its due time yet,
// playing the chosen sound.
class NotificationService : public QObject
{
    Q_OBJECT

public:
    explicit NotificationService(DueTasks *due, SettingsService *settings,
                                 QObject *parent = nullptr);

    void start();
    // One check: announces at most one task.
    void checkDueTasks();

signals:
    void taskDueSoon(qint64 taskId, const QString &name, const QString &expireAtText);

public slots:
    void clearNotified();
    void stopSound();

private:
    friend class TestNotificationService;

    void playSound();

    QHash<qint64, QString> m_notified;
    // Where the next check starts (epoch seconds): every task due earlier was looked at;
    // -1 before the first check after start or sign-out.
    qint64 m_checkFrom = -1;
    DueTasks *m_due = nullptr;
    SettingsService *m_settings = nullptr;
    QTimer m_timer;
    QAudioOutput *m_audioOutput = nullptr;
    QMediaPlayer *m_player = nullptr;
};
