#include "notificationservice.h"

#include "duetasks.h"
#include "settingsservice.h"
#include "taskservice.h"
#include "taskstore.h"

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

    // Everything due since the previous check up to the end of its task's lead time (the
    // account's, unless the task has its own), earliest first: each task not yet announced with
    // its current due time is announced, unless the person put its reminder off; a task that
    // fell due between two checks is not skipped.
    const qint64 now = this->now();
    const qint64 from = m_checkFrom >= 0 ? std::min(m_checkFrom, now) : now;
    QList<DueTask> due;
    for (const DueTask &task : m_due->remindersDue(from, now, m_settings->notifyMinutes())) {
        const auto announced = m_notified.constFind(task.id);
        if (announced == m_notified.cend() || announced.value() != task.expireAtText)
            due.append(task);
    }
    m_checkFrom = now;
    QList<DueTask> fresh;
    for (const DueTask &task : std::as_const(due)) {
        // A reminder put off comes at the end of the snooze, not before, also after a restart.
        m_notified.insert(task.id, task.expireAtText);
        if (m_due->snoozedUntil(task.id, task.expireAtEpoch) <= now)
            fresh.append(task);
    }
    // Put off until now or earlier: they come again, once.
    for (const DueTask &task : m_due->takeEndedSnoozes(now)) {
        m_notified.insert(task.id, task.expireAtText);
        if (std::none_of(fresh.cbegin(), fresh.cend(),
                         [&task](const DueTask &other) { return other.id == task.id; }))
            fresh.append(task);
    }
    if (fresh.isEmpty())
        return;

    playSound();
    for (const DueTask &task : std::as_const(fresh))
        emit taskDueSoon(task.id, task.name, task.expireAtText);
}

qint64 NotificationService::snoozeEnd(const QString &choice, qint64 nowEpoch)
{
    if (choice == QLatin1String("10m"))
        return nowEpoch + 10 * 60;
    if (choice == QLatin1String("1h"))
        return nowEpoch + 60 * 60;
    if (choice == QLatin1String("tomorrow")) {
        const QDate tomorrow = QDateTime::fromSecsSinceEpoch(nowEpoch).date().addDays(1);
        return QDateTime(tomorrow, QTime(9, 0)).toSecsSinceEpoch();
    }
    // A time picked by the person, in epoch seconds: only one still to come.
    if (choice.startsWith(QLatin1String("at:"))) {
        bool ok = false;
        const qint64 at = choice.mid(3).toLongLong(&ok);
        return ok && at > nowEpoch ? at : -1;
    }
    return -1;
}

bool NotificationService::snooze(qint64 taskId, const QString &choice)
{
    const qint64 now = this->now();
    const qint64 end = snoozeEnd(choice, now);
    const std::optional<DueTask> task = m_due ? m_due->pendingTask(taskId) : std::nullopt;
    if (end < 0 || !task || !m_due->snooze(taskId, task->expireAtEpoch, end))
        return false;
    // Seen for this due time: only the end of the snooze brings it back.
    m_notified.insert(taskId, task->expireAtText);
    withdraw(taskId);
    return true;
}

bool NotificationService::markDone(qint64 taskId)
{
    const std::optional<DueTask> task = m_due ? m_due->pendingTask(taskId) : std::nullopt;
    if (!task || !m_tasks) {
        withdraw(taskId);
        return false;
    }
    // The window's own command: the counts, the list and the sync learn of it as of any edit;
    // the store's change notice withdraws the reminder.
    const bool done = m_tasks->updateTask(taskId, task->name, true,
                                          QDateTime::fromSecsSinceEpoch(task->expireAtEpoch));
    if (done)
        withdraw(taskId);
    return done;
}

void NotificationService::dismiss(qint64 taskId)
{
    withdraw(taskId);
}

void NotificationService::withdraw(qint64 taskId)
{
    stopSound();
    emit reminderWithdrawn(taskId);
}

void NotificationService::onTasksChanged(const TaskChanges &changes)
{
    QList<qint64> touched = changes.updated + changes.deleted;
    if (changes.doneDeleted)
        touched = m_notified.keys();
    for (qint64 id : std::as_const(touched)) {
        const auto announced = m_notified.constFind(id);
        if (announced == m_notified.cend())
            continue;
        const std::optional<DueTask> task = m_due ? m_due->pendingTask(id) : std::nullopt;
        const bool silenced = m_tasks && m_tasks->reminderLead(id) == TaskStore::kNoReminder;
        if (task && task->expireAtText == announced.value() && !silenced)
            continue;
        // Done, deleted, due at another time or set to no reminder: the reminder goes; a new
        // due time in the window is announced at the next check.
        m_notified.remove(id);
        emit reminderWithdrawn(id);
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
