#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

class QDBusPendingCallWatcher;

// One notification of the desktop's notification service (org.freedesktop.Notifications):
// showing it again replaces the previous one. Every call is asynchronous, so a slow, failing or
// vanishing server never holds up the program; without a session bus or a server nothing
// happens at all.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(QObject *parent = nullptr);

    void show(const QString &summary, const QString &body);
    void close();
    // Closes the notification, then deletes itself once nothing of it is on its way.
    void closeAndDelete();
    // Actions offered beside "Show" where the server has actions: key and label in turn.
    void setExtraActions(const QStringList &keysAndLabels) { m_extraActions = keysAndLabels; }
    // Stays until the person acts on it, instead of the server's usual time.
    void setPersistent(bool persistent) { m_persistent = persistent; }

signals:
    // The person chose "Show" on the notification (or clicked it).
    void showRequested();
    // The person chose one of the extra actions.
    void actionInvoked(const QString &actionKey);
    // The person closed the notification on the desktop.
    void dismissed();

private:
    bool connectBus();
    void pump();
    void askCapabilities();
    void sendNotify();
    void forgetServer();

private slots:
    void onActionInvoked(uint id, const QString &actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    bool m_busTried = false;
    bool m_busy = false;
    bool m_capabilitiesKnown = false;
    bool m_actions = false;
    bool m_bodyMarkup = false;
    uint m_id = 0;
    QStringList m_extraActions;
    bool m_persistent = false;
    bool m_deleteWhenIdle = false;
    bool m_showWanted = false;
    bool m_closeWanted = false;
    QString m_summary;
    QString m_body;
};
