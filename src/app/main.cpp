#include "authservice.h"
#include "dbmanager.h"
#include "desktopintegration.h"
#include "notificationservice.h"
#include "settingsservice.h"
#include "singleinstance.h"
#include "taskservice.h"
#include "tasktablemodel.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickStyle>
#include <QStandardPaths>
#include <QWindow>

// The one connection of the process lives as long as the process itself.
static DbManager dbManager;

int main(int argc, char *argv[])
{
    // A QApplication rather than a QGuiApplication: the tray icon is a Qt Widgets class.
    QApplication app(argc, argv);
    // Docks and task bars match the window to the installed desktop entry by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral(TARVIK_APP_ID));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/" TARVIK_APP_ID ".png")));
    QQuickStyle::setStyle(QStringLiteral("Universal"));

    const QString dbPath = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                           + QStringLiteral("/taskmanager.db");

    // A second start shows the running program's window instead of opening the database twice.
    SingleInstance instance(dbPath);
    if (!instance.claim())
        return instance.notifyRunning() ? 0 : 1;

    qDebug() << "DBPATH:" << dbPath;
    QDir().mkpath(QFileInfo(dbPath).absolutePath());

    if (!dbManager.open(dbPath))
        qFatal("Cannot open SQLite database");
    dbManager.initSchema();

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
    DesktopIntegration desktop(&dbManager, &auth, &notifier);
    context->setContextProperty(QStringLiteral("desktop"), &desktop);
    QObject::connect(&instance, &SingleInstance::showRequested, &desktop,
                     &DesktopIntegration::showWindow);

#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    engine.loadFromModule("TarvikQml", "Main");
#else
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/TarvikQml/Main.qml")));
#endif
    if (engine.rootObjects().isEmpty())
        return -1;
    desktop.setWindow(qobject_cast<QWindow *>(engine.rootObjects().constFirst()));
    if (app.arguments().contains(QStringLiteral("--background")))
        desktop.startInBackground();
    return app.exec();
}
