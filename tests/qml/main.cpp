#include "appservices.h"
#include "dbmanager.h"

#include <QDir>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QTemporaryDir>
#include <QtQuickTest>

#include <memory>

// Gives every test file the same context properties as the program, backed by the real
// services on a private database, with HOME and the XDG directories in a temporary directory.
class Setup : public QObject
{
    Q_OBJECT

public:
    Setup()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY")
            && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QQuickStyle::setStyle(QStringLiteral("Universal"));
    }

public slots:
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        engine->addImportPath(QStringLiteral("qrc:/qt/qml"));

        m_dbPath = QDir(m_home.path()).filePath(QStringLiteral("taskmanager.db"));
        if (!m_db.database().isOpen()) {
            m_db.open(m_dbPath);
            m_db.initSchema();
        }

        // Made once the application exists: the reminder service creates its media player.
        // Its timer is not started; tests drive it through its signal and slots.
        if (!m_services)
            m_services = std::make_unique<AppServices>(&m_db, m_dbPath);
        m_services->publish(engine);
    }

private:
    // Runs before the services below are made: the task service opens the settings store as it
    // is constructed, and the store takes its directory from the environment at that moment.
    static bool isolate(const QTemporaryDir &home)
    {
        for (const char *name : { "HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME" }) {
            const QString dir = QDir(home.path()).filePath(QString::fromLatin1(name));
            QDir().mkpath(dir);
            qputenv(name, dir.toLocal8Bit());
        }
        return true;
    }

    QTemporaryDir m_home;
    const bool m_isolated = isolate(m_home);
    QString m_dbPath;
    DbManager m_db;
    std::unique_ptr<AppServices> m_services;
};

QUICK_TEST_MAIN_WITH_SETUP(tarvik, Setup)

#include "main.moc"
