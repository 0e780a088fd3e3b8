#pragma once

#include "localserver.h"

#include <QDir>
#include <QFile>

// A Radicale CalDAV server on 127.0.0.1 and a free port, with its own configuration, storage
// and htpasswd user, run with the system's Python as Debian ships it.
class RadicaleServer : public LocalServer
{
public:
    static inline const QString kUser = QStringLiteral("alice");
    static inline const QString kPassword = QStringLiteral("wonderland");

    RadicaleServer()
    {
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

    bool start()
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        return startProcess(QStringLiteral("/usr/bin/python3"),
                            { QStringLiteral("-m"), QStringLiteral("radicale"),
                              QStringLiteral("--config"),
                              QDir(m_dir.path()).filePath(QStringLiteral("config")) });
    }
};
