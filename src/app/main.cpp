#include "authservice.h"
#include "dbmanager.h"
#include "notificationservice.h"
#include "settingsservice.h"
#include "taskservice.h"
#include "tasktablemodel.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QStandardPaths>

// The one connection of the process lives as long as the process itself.
static DbManager dbManager;

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    // Docks and task bars match the window to the installed desktop entry by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral(TARVIK_APP_ID));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/" TARVIK_APP_ID ".png")));
    QQuickStyle::setStyle(QStringLiteral("Universal"));

    const QString dbPath = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                           + QStringLiteral("/taskmanager.db");
    qDebug() << "DBPATH:" << dbPath;
    QDir().mkpath(QFileInfo(dbPath).absolutePath());

    if (!dbManager.open(dbPath))
        qFatal("Cannot open SQLite database");
    dbManager.initTables();

    TaskTableModel taskModel;
    AuthService auth(&dbManager);
    TaskService taskService(&dbManager, &auth, &taskModel);

    QQmlApplicationEngine engine;
    QQmlContext *context = engine.rootContext();
    context->setContextProperty(QStringLiteral("auth"), &auth);
    context->setContextProperty(QStringLiteral("taskModel"), &taskModel);
    context->setContextProperty(QStringLiteral("taskService"), &taskService);
    context->setContextProperty(QStringLiteral("dbPath"), QVariant(dbPath));

    SettingsService settings;
    NotificationService notifier(&taskService, &settings);
    context->setContextProperty(QStringLiteral("settings"), &settings);
    context->setContextProperty(QStringLiteral("notifier"), &notifier);
    notifier.start();
    QObject::connect(&auth, &AuthService::loggedOut, &notifier,
                     &NotificationService::clearNotified);

#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    engine.loadFromModule("TarvikQml", "Main");
#else
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/TarvikQml/Main.qml")));
#endif
    if (engine.rootObjects().isEmpty())
        return -1;
    // The indexes come once the window has shown its first frame: on a large file written
    // without them they take seconds to build, which must not leave the window blank.
    if (auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst())) {
        QObject::connect(
                window, &QQuickWindow::frameSwapped, &dbManager,
                [] { dbManager.createIndexes(true); },
                Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    } else {
        dbManager.createIndexes();
    }
    return app.exec();
}
