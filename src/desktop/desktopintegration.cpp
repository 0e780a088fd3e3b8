#include "desktopintegration.h"

#include "authservice.h"
#include "autostartentry.h"
#include "desktoplog.h"
#include "notificationservice.h"
#include "trayicon.h"

#include <QApplication>
#include <QWindow>

Q_LOGGING_CATEGORY(lcDesktop, "tarvik.desktop", QtInfoMsg)

namespace {

const QString kKeepRunningKey = QStringLiteral("keepRunningInBackground");
// Each signed-in minute is recorded, so that a crash or a killed session loses at most one.
constexpr int kStampIntervalMs = 60000;

} // namespace

DesktopIntegration::DesktopIntegration(DueTasks *due, AuthService *auth,
                                       NotificationService *notifier, QObject *parent)
    : QObject(parent)
    , m_auth(auth)
    , m_notifier(notifier)
    , m_missed(due)
    , m_settings(QStringLiteral("Brellhaven"), QStringLiteral("TarvikQtQml"))
{
    m_keepRunning = m_settings.value(kKeepRunningKey, false).toBool();
    m_startAtLogin = AutostartEntry::exists();

    // Asking for the tray reaches the session bus: only done when the answer matters.
    if (m_keepRunning)
        refreshTray();

    connect(notifier, &NotificationService::taskDueSoon, this,
            [this](qint64 taskId, const QString &name, const QString &expireAtText) {
                onTaskDueSoon(taskId, name, expireAtText);
            });
    connect(notifier, &NotificationService::reminderWithdrawn, this,
            &DesktopIntegration::onReminderWithdrawn);
    connect(auth, &AuthService::loggedInChanged, this, &DesktopIntegration::onLoggedInChanged);
    connect(&m_missedNotice, &DesktopNotifier::showRequested, this,
            [this] { emit showTaskRequested(m_missedTaskId); });
    connect(&m_stampTimer, &QTimer::timeout, this, &DesktopIntegration::stampCheck);
    m_stampTimer.setInterval(kStampIntervalMs);
}

DesktopIntegration::~DesktopIntegration()
{
    stampCheck();
}

void DesktopIntegration::setKeepRunningInBackground(bool keep)
{
    if (keep == m_keepRunning)
        return;
    m_keepRunning = keep;
    m_settings.setValue(kKeepRunningKey, keep);
    refreshTray();
    emit keepRunningInBackgroundChanged();
}

void DesktopIntegration::setStartAtLogin(bool start)
{
    if (start == m_startAtLogin)
        return;
    if (!AutostartEntry::setEnabled(start))
        return;
    m_startAtLogin = start;
    emit startAtLoginChanged();
}

void DesktopIntegration::setWindow(QWindow *window)
{
    m_window = window;
}

void DesktopIntegration::startInBackground()
{
    if (!m_window)
        return;
    if (m_keepRunning && m_trayAvailable)
        m_window->hide();
    else
        m_window->showMinimized();
}

void DesktopIntegration::refreshTray()
{
    // The tray needs widgets; under a plain QGuiApplication there is none.
    if (!m_tray && qobject_cast<QApplication *>(QCoreApplication::instance())) {
        m_tray = std::make_unique<TrayIcon>();
        connect(m_tray.get(), &TrayIcon::showRequested, this, &DesktopIntegration::showWindow);
        connect(m_tray.get(), &TrayIcon::quitRequested, qApp, &QCoreApplication::quit,
                Qt::QueuedConnection);
    }
    const bool available = m_tray && TrayIcon::available();
    if (available != m_trayAvailable) {
        m_trayAvailable = available;
        emit trayAvailableChanged();
    }
    applyBackgroundMode();
}

void DesktopIntegration::closeNotifications()
{
    const QList<qint64> tasks = m_reminders.keys();
    for (qint64 taskId : tasks)
        onReminderWithdrawn(taskId);
    m_missedNotice.close();
}

void DesktopIntegration::showWindow()
{
    if (!m_window)
        return;
    m_window->setWindowStates(m_window->windowStates() & ~Qt::WindowMinimized);
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
}

void DesktopIntegration::onTaskDueSoon(qint64 taskId, const QString &name,
                                       const QString &expireAtText)
{
    if (windowInFront())
        return;
    DesktopNotifier *&reminder = m_reminders[taskId];
    if (!reminder) {
        reminder = new DesktopNotifier(this);
        reminder->setPersistent(true);
        reminder->setExtraActions({ QStringLiteral("done"), tr("Mark done"),
                                    QStringLiteral("snooze-10m"), tr("Snooze 10 minutes"),
                                    QStringLiteral("snooze-1h"), tr("Snooze 1 hour"),
                                    QStringLiteral("snooze-tomorrow"), tr("Tomorrow at 09:00") });
        connect(reminder, &DesktopNotifier::showRequested, this,
                [this, taskId] { onReminderAction(taskId, QStringLiteral("show")); });
        connect(reminder, &DesktopNotifier::actionInvoked, this,
                [this, taskId](const QString &key) { onReminderAction(taskId, key); });
        connect(reminder, &DesktopNotifier::dismissed, this,
                [this, taskId] { onReminderAction(taskId, QStringLiteral("dismiss")); });
    }
    // The task's own earlier reminder (another due time, or a snooze that ended) is replaced.
    reminder->show(tr("Task expiring soon: ") + name, tr("Expire at: ") + expireAtText);
}

void DesktopIntegration::onReminderAction(qint64 taskId, const QString &actionKey)
{
    if (actionKey == QLatin1String("show")) {
        m_notifier->dismiss(taskId);
        emit showTaskRequested(taskId);
    } else if (actionKey == QLatin1String("done")) {
        m_notifier->markDone(taskId);
    } else if (actionKey.startsWith(QLatin1String("snooze-"))) {
        m_notifier->snooze(taskId, actionKey.mid(7));
    } else {
        m_notifier->dismiss(taskId);
    }
}

void DesktopIntegration::onReminderWithdrawn(qint64 taskId)
{
    DesktopNotifier *reminder = m_reminders.take(taskId);
    if (!reminder)
        return;
    reminder->closeAndDelete();
}

void DesktopIntegration::onLoggedInChanged()
{
    if (!m_auth->isLoggedIn()) {
        stampCheck();
        m_stampTimer.stop();
        m_userId = -1;
        closeNotifications();
        return;
    }
    m_userId = m_auth->userId();
    m_stampTimer.start();
    const MissedTasks::Summary missed = m_missed.collect(m_userId);
    if (missed.count == 0)
        return;
    const QString message = missed.count == 1
                                    ? tr("1 task expired while you were away")
                                    : tr("%1 tasks expired while you were away").arg(missed.count);
    const QString detail =
            tr("Earliest: %1, expired at %2").arg(missed.earliestName, missed.earliestExpireAtText);
    m_missedTaskId = missed.earliestId;
    // One notice: in the window when the person is at it, on the desktop otherwise.
    if (windowInFront())
        emit missedTasksFound(missed.earliestId, message, detail);
    else
        m_missedNotice.show(message, detail);
}

void DesktopIntegration::stampCheck()
{
    if (m_userId >= 0)
        m_missed.markChecked(m_userId);
}

void DesktopIntegration::applyBackgroundMode()
{
    const bool background = m_keepRunning && m_trayAvailable;
    QGuiApplication::setQuitOnLastWindowClosed(!background);
    if (m_tray)
        m_tray->setVisible(background);
}

bool DesktopIntegration::windowInFront() const
{
    return m_window && m_window->isVisible() && m_window->isExposed() && m_window->isActive()
           && !(m_window->windowStates() & Qt::WindowMinimized);
}
