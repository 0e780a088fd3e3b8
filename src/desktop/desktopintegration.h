#pragma once

#include "desktopnotifier.h"
#include "missedtasks.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QTimer>

#include <memory>

class AuthService;
class DueTasks;
class NotificationService;
class QWindow;
class TrayIcon;

// Brings reminders to the person when the window is out of sight: desktop notifications, the
// tray icon that keeps the program running in the background, the autostart entry, and the
// notice of tasks that fell due while the program was closed. Published to QML as `desktop`.
class DesktopIntegration : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool trayAvailable READ trayAvailable NOTIFY trayAvailableChanged)
    Q_PROPERTY(bool keepRunningInBackground READ keepRunningInBackground WRITE
                       setKeepRunningInBackground NOTIFY keepRunningInBackgroundChanged)
    Q_PROPERTY(bool startAtLogin READ startAtLogin WRITE setStartAtLogin NOTIFY startAtLoginChanged)

public:
    explicit DesktopIntegration(DueTasks *due, AuthService *auth, NotificationService *notifier,
                                QObject *parent = nullptr);
    ~DesktopIntegration() override;

    bool trayAvailable() const { return m_trayAvailable; }
    bool keepRunningInBackground() const { return m_keepRunning; }
    bool startAtLogin() const { return m_startAtLogin; }

    void setKeepRunningInBackground(bool keep);
    void setStartAtLogin(bool start);

    // The application window, once QML has made it.
    void setWindow(QWindow *window);
    // Started at login: out of sight in the tray, or minimised when there is no tray to return to.
    void startInBackground();

signals:
    void trayAvailableChanged();
    void keepRunningInBackgroundChanged();
    void startAtLoginChanged();
    void missedTasksFound(qint64 taskId, const QString &message, const QString &detail);
    // "Show" on a desktop notification: the window opens the tasks page on the task.
    void showTaskRequested(qint64 taskId);

public:
    Q_INVOKABLE void refreshTray();
    // Every notification goes (sign-out).
    Q_INVOKABLE void closeNotifications();

public slots:
    void showWindow();

private:
    void onTaskDueSoon(qint64 taskId, const QString &name, const QString &expireAtText);
    void onReminderWithdrawn(qint64 taskId);
    void onReminderAction(qint64 taskId, const QString &actionKey);
    void onLoggedInChanged();
    void stampCheck();
    void applyBackgroundMode();
    bool windowInFront() const;

    AuthService *m_auth = nullptr;
    NotificationService *m_notifier = nullptr;
    MissedTasks m_missed;
    // One notification per task reminded of, never replacing another task's.
    QHash<qint64, DesktopNotifier *> m_reminders;
    DesktopNotifier m_missedNotice;
    std::unique_ptr<TrayIcon> m_tray;
    QPointer<QWindow> m_window;
    QTimer m_stampTimer;
    QSettings m_settings;
    qint64 m_userId = -1;
    qint64 m_missedTaskId = -1;
    bool m_trayAvailable = false;
    bool m_keepRunning = false;
    bool m_startAtLogin = false;
};
