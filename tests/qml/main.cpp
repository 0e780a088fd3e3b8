#include "authservice.h"
#include "dbmanager.h"
#include "taskservice.h"
#include "tasktablemodel.h"

#include <QDir>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QTemporaryDir>
#include <QtQuickTest>

// Gives every test file the same context properties as the program, backed by the real
// services on a private database, with HOME and the XDG directories in a temporary directory.
class Setup : public QObject
{
    Q_OBJECT

public:
    Setup()
    {
        for (const char *name : { "HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME" }) {
            const QString dir = QDir(m_home.path()).filePath(QString::fromLatin1(name));
            QDir().mkpath(dir);
            qputenv(name, dir.toLocal8Bit());
        }
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
    }

private:
    QTemporaryDir m_home;
    QString m_dbPath;
    DbManager m_db;
    TaskTableModel m_taskModel;
    AuthService m_auth { &m_db };
    TaskService m_taskService { &m_db, &m_auth, &m_taskModel };
};

QUICK_TEST_MAIN_WITH_SETUP(tarvik, Setup)

#include "main.moc"
