#include "notificationservice.h"

#include "duetasks.h"
#include "settingsservice.h"
#include "storedtime.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QFileInfo>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QUrl>

#include <algorithm>
#include <optional>

namespace {

// Only a readable, non-empty regular file is handed to the player: a FIFO or a device would
// block the media backend while it opens the file, and a missing file is not worth a try.
bool isPlayableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable() && info.size() > 0;
}

} // namespace

NotificationService::NotificationService(DueTasks *due, SettingsService *settings, QObject *parent)
    : QObject(parent)
    , m_due(due)
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
    m_checkFrom = -1;
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
    if (!m_due || !m_settings)
        return;

    // Everything due since the previous check up to the end of the lead time, earliest first:
    // the first task not yet announced with its current due time is announced, so that a task
    // due at the same time as, or just after, an announced one is not held back, and a task
    // that fell due between two checks is not skipped. One announcement per check; the walk
    // stops at that task.
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 from = m_checkFrom >= 0 ? std::min(m_checkFrom, now) : now;
    const qint64 until = StoredTime::saturatingAdd(now, qint64(m_settings->notifyMinutes()) * 60);
    std::optional<DueTask> next;
    m_due->visitDueTasks(from, until, [this, &next](const DueTask &task) {
        const auto announced = m_notified.constFind(task.id);
        if (announced != m_notified.cend() && announced.value() == task.expireAtText)
            return true;
        next = task;
        return false;
    });
    // Tasks due before the one announced now were all announced; the rest wait for the next
    // check, which starts at its due time.
    m_checkFrom = next ? next->expireAtEpoch : now;
    if (!next)
        return;

    playSound();
    m_notified.insert(next->id, next->expireAtText);
    emit taskDueSoon(next->id, next->name, next->expireAtText);
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
