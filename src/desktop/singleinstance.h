#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

// Keeps one running program per data directory. The first start holds a lock in the user's
// runtime directory and listens on a local socket there; a later start finds the lock taken,
// asks the running program to show its window and ends. A lock left by a crashed program is
// taken over (its process is gone), and so is its socket.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // key tells programs apart that may run side by side (another data directory).
    explicit SingleInstance(const QString &key, QObject *parent = nullptr);

    // True when this is the only running program; it then listens for later starts.
    bool claim();
    // Asks the program that holds the lock to show its window; false when it could not be told.
    bool notifyRunning() const;

signals:
    void showRequested();

private:
    void readMessage();

    QString m_socketName;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};
