#include "notificationservice.h"

#include "settingsservice.h"
#include "taskservice.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QUrl>
#include <QVariantMap>

namespace {

// Only a readable, non-empty regular file is handed to the player: a FIFO or a device would
// block the media backend while it opens the file, and a missing file is not worth a try.
bool isPlayableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable() && info.size() > 0;
}

} // namespace

NotificationService::NotificationService(TaskService *tasks, SettingsService *settings,
                                         QObject *parent)
    : QObject(parent)
    , m_tasks(tasks)
    , m_settings(settings)
{
    m_audioOutput = new QAudioOutput(this);
    m_player = new QMediaPlayer(this);
    m_player->setAudioOutput(m_audioOutput);
    m_audioOutput->setVolume(0.8f);

    connect(&m_timer, &QTimer::timeout, this, &NotificationService::checkDueTasks);
    m_timer.setInterval(60000);
}

void NotificationService::start()
{
    m_timer.start();
}

void NotificationService::clearNotified()
{
    m_notified.clear();
    if (m_player)
        m_player->stop();
}

void NotificationService::stopSound()
{
    if (m_player)
        m_player->stop();
}

void NotificationService::checkDueTasks()
{
    if (!m_tasks || !m_settings)
        return;

    // Every task in the window, earliest first: the first one not yet announced with its
    // current due time is announced, so that a task due at the same time as, or just after,
    // an announced one is not held back. One announcement per check.
    const QList<QVariantMap> due = m_tasks->dueTasks(m_settings->notifyMinutes());
    for (const QVariantMap &task : due) {
        const int taskId = task.value(QStringLiteral("id")).toInt();
        const QString name = task.value(QStringLiteral("name")).toString();
        const QString expireAtText = task.value(QStringLiteral("expire_at_text")).toString();

        const auto announced = m_notified.constFind(taskId);
        if (announced != m_notified.cend() && announced.value() == expireAtText)
            continue;

        playSound();
        m_notified.insert(taskId, expireAtText);
        emit taskDueSoon(taskId, name, expireAtText);
        return;
    }
}

void NotificationService::playSound()
{
    const QString soundFile = m_settings->soundFile();
    if (soundFile.isEmpty() || !m_player)
        return;

    // A new announcement restarts the sound; a file that cannot be played leaves silence.
    m_player->stop();
    if (!isPlayableFile(soundFile))
        return;

    // Without an output device some media backends crash in play(): the sound is skipped.
    // The current default device is used, also when it changed since the last sound.
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return;
    if (m_audioOutput->device() != device)
        m_audioOutput->setDevice(device);

    m_player->setSource(QUrl::fromLocalFile(soundFile));
    m_player->play();
}
