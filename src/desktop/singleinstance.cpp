#include "singleinstance.h"

#include "desktoplog.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace {

const QByteArray kShowMessage = QByteArrayLiteral("show\n");

} // namespace

SingleInstance::SingleInstance(const QString &databasePath, QObject *parent)
    : QObject(parent)
{
    const QFileInfo database(databasePath);
    // The data directory, like the runtime directory, is the user's alone (mode 0700), so
    // nobody else can see or take the lock or the socket.
    m_lock = std::make_unique<QLockFile>(database.absoluteFilePath() + QStringLiteral(".lock"));
    // Held for the whole run, so its age says nothing: only a dead owner makes it stale.
    m_lock->setStaleLockTime(0);

    const QByteArray hash = QCryptographicHash::hash(database.absoluteFilePath().toUtf8(),
                                                     QCryptographicHash::Sha256)
                                    .toHex()
                                    .left(16);
    const QString socket = QCoreApplication::applicationName() + QLatin1Char('-')
                           + QString::fromLatin1(hash) + QStringLiteral(".socket");
    // Empty when the runtime directory is missing, not a directory or another user's.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        m_socketNames << QDir(runtime).filePath(socket);
    // A program started with another environment may have listened beside the lock.
    m_socketNames << database.absoluteDir().filePath(socket);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::readMessage);
}

bool SingleInstance::claim()
{
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() != QLockFile::LockFailedError) {
            // The data directory is unusable, and opening the database will tell.
            qCDebug(lcDesktop) << "cannot create the instance lock" << m_lock->error();
            return true;
        }
        return false;
    }
    for (const QString &name : std::as_const(m_socketNames)) {
        QLocalServer::removeServer(name);
        if (m_server.listen(name))
            return true;
        qCDebug(lcDesktop) << "cannot listen for later starts at" << name << ":"
                           << m_server.errorString();
    }
    return true;
}

bool SingleInstance::notifyRunning() const
{
    // The running program may still be starting: it takes the lock just before it listens.
    const QDeadlineTimer deadline(3000);
    while (!deadline.hasExpired()) {
        for (const QString &name : m_socketNames) {
            QLocalSocket socket;
            socket.connectToServer(name);
            if (socket.waitForConnected(500)) {
                socket.write(kShowMessage);
                const bool sent = socket.waitForBytesWritten(1000);
                socket.disconnectFromServer();
                return sent;
            }
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
