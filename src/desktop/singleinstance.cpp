#include "singleinstance.h"

#include "desktoplog.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace {

const QByteArray kShowMessage = QByteArrayLiteral("show\n");

} // namespace

SingleInstance::SingleInstance(const QString &key, QObject *parent)
    : QObject(parent)
{
    // The runtime directory belongs to the user alone (mode 0700), so the lock and the socket
    // cannot be seen or taken by anybody else.
    const QByteArray hash =
            QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    const QString base = QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
                                 .filePath(QCoreApplication::applicationName() + QLatin1Char('-')
                                           + QString::fromLatin1(hash));
    m_lock = std::make_unique<QLockFile>(base + QStringLiteral(".lock"));
    // Held for the whole run, so its age says nothing: only a dead owner makes it stale.
    m_lock->setStaleLockTime(0);
    m_socketName = base + QStringLiteral(".socket");
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::readMessage);
}

bool SingleInstance::claim()
{
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() != QLockFile::LockFailedError) {
            // The runtime directory is unusable: better two windows than none.
            qCDebug(lcDesktop) << "cannot create the instance lock" << m_lock->error();
            return true;
        }
        return false;
    }
    QLocalServer::removeServer(m_socketName);
    if (!m_server.listen(m_socketName))
        qCDebug(lcDesktop) << "cannot listen for later starts:" << m_server.errorString();
    return true;
}

bool SingleInstance::notifyRunning() const
{
    // The running program may still be starting: it takes the lock just before it listens.
    const QDeadlineTimer deadline(3000);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_socketName);
        if (socket.waitForConnected(500)) {
            socket.write(kShowMessage);
            const bool sent = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return sent;
        }
        QThread::msleep(100);
    }
    qCDebug(lcDesktop) << "the running program did not answer";
    return false;
}

void SingleInstance::readMessage()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine(64) == kShowMessage)
                    emit showRequested();
            }
            // Anything else, or a line that never ends, is not ours.
            if (socket->bytesAvailable() > 64)
                socket->abort();
        });
    }
}
