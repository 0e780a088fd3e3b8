#include "appservices.h"
#include "commandline.h"
#include "dbmanager.h"
#include "opendialogs.h"
#include "privatefiles.h"
#include "singleinstance.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QWindow>

// The one connection of the process lives as long as the process itself.
static DbManager dbManager;

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVIK_VERSION));
    CommandLine commandLine;
    if (const int code = commandLine.answerWithoutWindow(argc, argv); code >= 0)
        return code;
    // A QApplication rather than a QGuiApplication: the tray icon is a Qt Widgets class.
    QApplication app(argc, argv);
    if (!commandLine.parse(app.arguments()))
        return 2;
    // Docks and task bars match the window to the installed desktop entry by this id.
    QGuiApplication::setDesktopFileName(QStringLiteral(TARVIK_APP_ID));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/" TARVIK_APP_ID ".png")));
    QQuickStyle::setStyle(QStringLiteral("Universal"));

    const QString dbPath = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                           + QStringLiteral("/taskmanager.db");

    // A second start shows the running program's window instead of opening the database twice.
    // Its lock is kept beside the database, so the private directory comes first.
    PrivateFiles::makeDirectory(QFileInfo(dbPath).absolutePath());
    SingleInstance instance(dbPath);
    if (!instance.claim())
        return instance.notifyRunning() ? 0 : 1;

    qDebug() << "DBPATH:" << dbPath;

    if (!dbManager.open(dbPath))
        qFatal("Cannot open SQLite database");
    if (!dbManager.initTables()) {
        // A file of a newer release stays as it is; the person learns why nothing opens.
        qCritical().noquote() << dbManager.refusal();
        QMessageBox::critical(nullptr, QStringLiteral("Task Manager"), dbManager.refusal());
        return 1;
    }
    const bool indexed = dbManager.createIndexesIfQuick();

    // The preferences are private too: created owner-only before the first value is written.
    const QString settingsPath =
            QSettings(QStringLiteral("Brellhaven"), QStringLiteral("TarvikQtQml")).fileName();
    QDir().mkpath(QFileInfo(settingsPath).absolutePath());
    PrivateFiles::makeFile(settingsPath);

    AppServices services(&dbManager, dbPath);
    services.start();
    QObject::connect(&instance, &SingleInstance::showRequested, &services.desktop(),
                     &DesktopIntegration::showWindow);

    // Made after the services and so destroyed before them: bindings never see a service gone.
    QQmlApplicationEngine engine;
    services.publish(&engine);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    engine.loadFromModule("TarvikQml", "Main");
#else
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/TarvikQml/Main.qml")));
#endif
    if (engine.rootObjects().isEmpty())
        return -1;
    const bool background = commandLine.background();
    // On a large file written without them the indexes take seconds to build, which must not
    // leave the window blank: they come once the window has shown its first frame, or from
    // the event loop at once when the program starts without showing it.
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    if (!indexed && window && !background) {
        QObject::connect(
                window, &QQuickWindow::frameSwapped, &dbManager,
                [] { dbManager.createIndexes(true); },
                Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    } else if (!indexed) {
        dbManager.createIndexes(true);
    }
    services.desktop().setWindow(qobject_cast<QWindow *>(engine.rootObjects().constFirst()));
    if (background)
        services.desktop().startInBackground();
    const int code = app.exec();
    OpenDialogs::closeAll(engine.rootObjects());
    return code;
}
