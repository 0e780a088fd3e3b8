#include "authservice.h"
#include "dbmanager.h"
#include "notificationservice.h"
#include "settingsservice.h"
#include "syncservice.h"
#include "taskservice.h"
#include "tasktablemodel.h"

#include <QDir>
#include <QQmlContext>
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

        QQmlContext *context = engine->rootContext();
        context->setContextProperty(QStringLiteral("auth"), &m_auth);
        context->setContextProperty(QStringLiteral("taskModel"), &m_taskModel);
        context->setContextProperty(QStringLiteral("taskService"), &m_taskService);
        context->setContextProperty(QStringLiteral("dbPath"), QVariant(m_dbPath));
        if (!m_sync)
            m_sync = std::make_unique<SyncService>(&m_db, &m_auth);
        context->setContextProperty(QStringLiteral("syncService"), m_sync.get());

        // Made once the application exists: the reminder service creates its media player.
        // Its timer is not started; tests drive it through its signal and slots.
        if (!m_notifier) {
            m_settings = std::make_unique<SettingsService>();
            m_notifier = std::make_unique<NotificationService>(&m_taskService, m_settings.get());
            QObject::connect(&m_auth, &AuthService::loggedOut, m_notifier.get(),
                             &NotificationService::clearNotified);
        }
        context->setContextProperty(QStringLiteral("settings"), m_settings.get());
        context->setContextProperty(QStringLiteral("notifier"), m_notifier.get());
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
    TaskTableModel m_taskModel;
    AuthService m_auth { &m_db };
    TaskService m_taskService { &m_db, &m_auth, &m_taskModel };
    std::unique_ptr<SyncService> m_sync;
    std::unique_ptr<SettingsService> m_settings;
    std::unique_ptr<NotificationService> m_notifier;
};

QUICK_TEST_MAIN_WITH_SETUP(tarvik, Setup)

#include "main.moc"
