#pragma once

#include "localserver.h"

// A Xandikos CalDAV server on 127.0.0.1 and a free port, with its own storage, as Debian ships
// it. It asks for no password; the one sent is ignored. Its tokens name the collection's content
// (a git tree), so the same content gives the same token again.
class XandikosServer : public LocalServer
{
public:
    bool start()
    {
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        return startProcess(QStringLiteral("/usr/bin/xandikos"),
                            { QStringLiteral("-d"), m_dir.path(), QStringLiteral("--defaults"),
                              QStringLiteral("-l"), QStringLiteral("127.0.0.1"),
                              QStringLiteral("-p"), QString::number(m_port) });
    }
};
