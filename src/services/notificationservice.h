#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

class QAudioOutput;
class QMediaPlayer;
class SettingsService;
class TaskService;

// The reminder engine: once a minute it announces a pending task of the signed-in user that
// falls due within the lead time and has not been announced for its due time yet, playing the
// chosen sound.
class NotificationService : public QObject
{
    Q_OBJECT

public:
    explicit NotificationService(TaskService *tasks, SettingsService *settings,
                                 QObject *parent = nullptr);

    void start();

signals:
    void taskDueSoon(int taskId, const QString &name, const QString &expireAtText);

public slots:
    void clearNotified();
    void stopSound();

private:
    friend class TestNotificationService;

    void checkDueTasks();
    void playSound();

    QHash<int, QString> m_notified;
    TaskService *m_tasks = nullptr;
    SettingsService *m_settings = nullptr;
    QTimer m_timer;
    QAudioOutput *m_audioOutput = nullptr;
    QMediaPlayer *m_player = nullptr;
};
