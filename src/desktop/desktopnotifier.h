#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

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

signals:
    // The person chose "Show" on the notification (or clicked it).
    void showRequested();

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
    bool m_showWanted = false;
    bool m_closeWanted = false;
    QString m_summary;
    QString m_body;
};
