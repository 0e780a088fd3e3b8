#pragma once

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

// A Xandikos CalDAV server on 127.0.0.1 and a free port, with its own storage, as Debian ships
// it. It asks for no password; the one sent is ignored. Its tokens name the collection's content
// (a git tree), so the same content gives the same token again.
class XandikosServer
{
public:
    XandikosServer()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost);
        m_port = probe.serverPort();
    }
    ~XandikosServer()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished();
    }

    bool start()
    {
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(QStringLiteral("/usr/bin/xandikos"),
                        { QStringLiteral("-d"), m_dir.path(), QStringLiteral("--defaults"),
                          QStringLiteral("-l"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                          QString::number(m_port) });
        for (int i = 0; i < 100; ++i) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, m_port);
            if (socket.waitForConnected(100))
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port)); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
