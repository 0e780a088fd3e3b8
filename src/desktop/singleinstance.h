#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// Keeps one running program per database file. The first start holds a lock beside the
// database, in its private data directory, and listens on a local socket; a later start finds
// the lock taken, asks the running program to show its window and ends. A lock left by a
// crashed program is taken over (its process is gone), and so is its socket.
//
// The lock is never in the runtime directory: where that is missing (su, ssh, cron) or another
// user's, programs started in different ways would each find a lock of their own. The socket
// is there when the directory is the user's own, else beside the lock.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // The data directory must exist, and be private, before claim().
    explicit SingleInstance(const QString &databasePath, QObject *parent = nullptr);

    // True when this is the only running program; it then listens for later starts.
    bool claim();
    // Asks the program that holds the lock to show its window; false when it could not be told.
    bool notifyRunning() const;

signals:
    void showRequested();

private:
    void readMessage();

    // Where the running program may listen, the one it uses first.
    QStringList m_socketNames;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};
