#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QUuid>

#include <memory>

// The program's settings store, opened as the services open it.
inline QSettings appSettings()
{
    return QSettings(QStringLiteral("Brellhaven"), QStringLiteral("TarvikQtQml"));
}

// The file of the settings store that keeps its files in dir.
inline QString settingsFileIn(const QString &dir)
{
    return QDir(dir).filePath(QStringLiteral("Brellhaven/TarvikQtQml.conf"));
}

// Writes text as the settings file of the store in dir, as another program or an old version
// could have left it.
inline bool writeSettingsFileIn(const QString &dir, const QByteArray &text)
{
    const QString path = settingsFileIn(dir);
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly)
           && file.write(text) == text.size();
}

// Points HOME and the XDG directories at a private temporary directory before Qt reads them,
// so that no test touches the real user's settings or data.
class TestEnvironment
{
public:
    TestEnvironment()
    {
        const QString root = m_dir.path();
        for (const char *name : { "HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME" })
            qputenv(name, QDir(root).filePath(QString::fromLatin1(name)).toLocal8Bit());
        for (const char *name : { "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "HOME" })
            QDir().mkpath(QString::fromLocal8Bit(qgetenv(name)));
    }

    QString root() const { return m_dir.path(); }

    // A path for a database file that does not exist yet.
    QString newDatabasePath() const
    {
        return QDir(m_dir.path())
                .filePath(QUuid::createUuid().toString(QUuid::WithoutBraces)
                          + QStringLiteral(".db"));
    }

    // The file QSettings uses for the program's preferences.
    QString settingsFile() const
    {
        return settingsFileIn(QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME")));
    }

    // A new directory below the private root, named "<prefix>-XXXXXX", where the settings store
    // keeps its file from now on.
    std::unique_ptr<QTemporaryDir> newSettingsDirectory(const QString &prefix) const
    {
        auto dir = std::make_unique<QTemporaryDir>(QDir(m_dir.path()).filePath(prefix)
                                                   + QStringLiteral("-XXXXXX"));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir->path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir->path());
        return dir;
    }

private:
    QTemporaryDir m_dir;
};

inline TestEnvironment testEnvironment;

// Drops the default connection once the last handle on it is gone, so that the next test's
// DbManager starts a fresh one without a "duplicate connection" warning.
inline void releaseDefaultConnection()
{
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
}
