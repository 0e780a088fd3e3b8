#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QAudioOutput;
class QMediaPlayer;
class DueTasks;
class SettingsService;
class TaskService;
struct TaskChanges;

// The reminder engine: once a minute, and whenever the wiring asks (after sign-in, after a
// task is saved), it announces every pending task of the signed-in user that falls due between
// the previous check and the end of the lead time and has not been announced for its due time
// yet, and every reminder put off until now, playing the chosen sound once. Each reminder stays
// until the person acts on it (Show, Mark done, Snooze, Dismiss) or its task is done, deleted or
// given another due time; then it is withdrawn everywhere it shows.
class NotificationService : public QObject
{
    Q_OBJECT

public:
    explicit NotificationService(DueTasks *due, SettingsService *settings,
                                 QObject *parent = nullptr);

    void start();
    // One check: announces every task that came due and every put-off reminder that ended.
    void checkDueTasks();
    // Mark done goes through the window's command on this service.
    void setTaskService(TaskService *tasks) { m_tasks = tasks; }
    // Where "now" comes from (epoch seconds); the system clock unless a test sets another.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    // The moment a snooze choice ("10m", "1h", "tomorrow": 09:00 local the next day) ends,
    // counted from nowEpoch; -1 for an unknown choice.
    static qint64 snoozeEnd(const QString &choice, qint64 nowEpoch);

    Q_INVOKABLE bool markDone(qint64 taskId);
    // Puts the task's reminder off; it comes again once, at the end of the choice.
    Q_INVOKABLE bool snooze(qint64 taskId, const QString &choice);
    // The person saw the reminder (Show or Dismiss): it goes everywhere it shows.
    Q_INVOKABLE void dismiss(qint64 taskId);
    // Plays the chosen sound once, as a reminder would.
    Q_INVOKABLE void testSound() { playSound(); }

signals:
    void taskDueSoon(qint64 taskId, const QString &name, const QString &expireAtText);
    // The reminder of the task is no longer wanted: acted on, or its task changed.
    void reminderWithdrawn(qint64 taskId);

public slots:
    void clearNotified();
    void stopSound();
    // Withdraws the reminders of tasks done, deleted or moved to another due time.
    void onTasksChanged(const TaskChanges &changes);

private:
    friend class TestNotificationService;

    qint64 now() const { return m_clock ? m_clock() : QDateTime::currentSecsSinceEpoch(); }
    void playSound();
    void withdraw(qint64 taskId);

    QHash<qint64, QString> m_notified;
    // Where the next check starts (epoch seconds): every task due earlier was looked at;
    // -1 before the first check after start or sign-out.
    qint64 m_checkFrom = -1;
    DueTasks *m_due = nullptr;
    SettingsService *m_settings = nullptr;
    TaskService *m_tasks = nullptr;
    std::function<qint64()> m_clock;
    QTimer m_timer;
    QAudioOutput *m_audioOutput = nullptr;
    QMediaPlayer *m_player = nullptr;
};
