#include "desktopnotifier.h"

#include "desktopidentity.h"
#include "desktoplog.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kShowAction = QStringLiteral("show");
const QString kDefaultAction = QStringLiteral("default");

QDBusMessage call(const QString &method)
{
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

} // namespace

DesktopNotifier::DesktopNotifier(QObject *parent)
    : QObject(parent)
    , m_bus(QString())
{
}

// The bus is reached when the first notification is due, not before: a run that never notifies
// never touches it.
bool DesktopNotifier::connectBus()
{
    if (m_busTried)
        return m_bus.isConnected();
    m_busTried = true;
    m_bus = QDBusConnection::sessionBus();
    if (!m_bus.isConnected()) {
        qCDebug(lcDesktop) << "no session bus; desktop notifications are off";
        return false;
    }
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));

    // Another server may offer other capabilities and knows nothing of our notification.
    auto *watcher = new QDBusServiceWatcher(kService, m_bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &DesktopNotifier::forgetServer);
    return true;
}

void DesktopNotifier::show(const QString &summary, const QString &body)
{
    m_summary = summary;
    m_body = body;
    m_showWanted = true;
    m_closeWanted = false;
    pump();
}

void DesktopNotifier::close()
{
    m_showWanted = false;
    m_closeWanted = true;
    pump();
}

void DesktopNotifier::closeAndDelete()
{
    m_deleteWhenIdle = true;
    close();
}

// One call at a time: a notification shown while the previous one is still on its way waits
// for its id, so that it replaces it instead of appearing beside it.
void DesktopNotifier::pump()
{
    if (m_busy)
        return;
    if ((m_showWanted && !connectBus()) || !m_bus.isConnected()) {
        if (m_deleteWhenIdle)
            deleteLater();
        return;
    }
    if (m_showWanted) {
        if (m_capabilitiesKnown)
            sendNotify();
        else
            askCapabilities();
        return;
    }
    if (m_closeWanted && m_id != 0) {
        QDBusMessage message = call(QStringLiteral("CloseNotification"));
        message << m_id;
        m_id = 0;
        m_bus.asyncCall(message);
    }
    m_closeWanted = false;
    if (m_deleteWhenIdle)
        deleteLater();
}

void DesktopNotifier::askCapabilities()
{
    m_busy = true;
    auto *watcher = new QDBusPendingCallWatcher(
            m_bus.asyncCall(call(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                m_busy = false;
                const QDBusPendingReply<QStringList> reply = *finished;
                if (reply.isError()) {
                    // No server: the notification is dropped; the next one asks again.
                    qCDebug(lcDesktop) << "no notification server:" << reply.error().message();
                    m_showWanted = false;
                } else {
                    const QStringList capabilities = reply.value();
                    m_actions = capabilities.contains(QStringLiteral("actions"));
                    m_bodyMarkup = capabilities.contains(QStringLiteral("body-markup"));
                    m_capabilitiesKnown = true;
                }
                pump();
            });
}

void DesktopNotifier::sendNotify()
{
    m_showWanted = false;
    m_busy = true;

    QStringList actions;
    if (m_actions)
        actions << kDefaultAction << tr("Show") << kShowAction << tr("Show") << m_extraActions;
    QVariantMap hints;
    const QString desktopEntry = QGuiApplication::desktopFileName();
    if (!desktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), desktopEntry);

    QDBusMessage message = call(QStringLiteral("Notify"));
    message << DesktopIdentity::name() << m_id << DesktopIdentity::iconName() << m_summary
            << (m_bodyMarkup ? m_body.toHtmlEscaped() : m_body) << actions << hints
            << qint32(m_persistent ? 0 : -1);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                m_busy = false;
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError())
                    qCDebug(lcDesktop) << "notification refused:" << reply.error().message();
                m_id = reply.isError() ? 0 : reply.value();
                pump();
            });
}

void DesktopNotifier::forgetServer()
{
    m_capabilitiesKnown = false;
    m_id = 0;
}

void DesktopNotifier::onActionInvoked(uint id, const QString &actionKey)
{
    if (id == 0 || id != m_id)
        return;
    if (actionKey == kShowAction || actionKey == kDefaultAction)
        emit showRequested();
    for (qsizetype i = 0; i + 1 < m_extraActions.size(); i += 2) {
        if (m_extraActions.at(i) == actionKey) {
            emit actionInvoked(actionKey);
            return;
        }
    }
}

void DesktopNotifier::onNotificationClosed(uint id, uint reason)
{
    if (id == 0 || id != m_id)
        return;
    m_id = 0;
    // Reason 2: the person closed it; expiry (1) and our own close (3) are no answer.
    if (reason == 2)
        emit dismissed();
}
