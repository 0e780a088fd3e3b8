#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

// A Radicale CalDAV server on 127.0.0.1 and a free port, with its own configuration, storage
// and htpasswd user, run with the system's Python as Debian ships it.
class RadicaleServer
{
public:
    static inline const QString kUser = QStringLiteral("alice");
    static inline const QString kPassword = QStringLiteral("wonderland");

    RadicaleServer()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        m_port = probe.serverPort();
        probe.close();
        const QDir dir(m_dir.path());
        QProcess::execute(QStringLiteral("htpasswd"),
                          { QStringLiteral("-b"), QStringLiteral("-c"), QStringLiteral("-m"),
                            dir.filePath(QStringLiteral("users")), kUser, kPassword });
        QFile config(dir.filePath(QStringLiteral("config")));
        config.open(QIODevice::WriteOnly);
        config.write(QStringLiteral("[server]\nhosts = 127.0.0.1:%1\n"
                                    "[auth]\ntype = htpasswd\nhtpasswd_filename = %2\n"
                                    "htpasswd_encryption = md5\n"
                                    "[storage]\nfilesystem_folder = %3\n"
                                    "[logging]\nlevel = warning\n")
                             .arg(m_port)
                             .arg(dir.filePath(QStringLiteral("users")),
                                  dir.filePath(QStringLiteral("collections")))
                             .toUtf8());
    }
    ~RadicaleServer() { stop(); }

    bool start()
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        { QStringLiteral("-m"), QStringLiteral("radicale"),
                          QStringLiteral("--config"),
                          QDir(m_dir.path()).filePath(QStringLiteral("config")) });
        for (int i = 0; i < 100; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            if (socket.waitForConnected(100))
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished();
    }

    QUrl url(const QString &path = QStringLiteral("/")) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path));
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
