#include "appservices.h"
#include "dbmanager.h"
#include "privatefiles.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QSettings>
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
    PrivateFiles::makeDirectory(QFileInfo(dbPath).absolutePath());

    if (!dbManager.open(dbPath))
        qFatal("Cannot open SQLite database");
    dbManager.initTables();
    const bool indexed = dbManager.createIndexesIfQuick();

    // The preferences are private too: created owner-only before the first value is written.
    const QString settingsPath =
            QSettings(QStringLiteral("Brellhaven"), QStringLiteral("TarvikQtQml")).fileName();
    QDir().mkpath(QFileInfo(settingsPath).absolutePath());
    PrivateFiles::makeFile(settingsPath);

    AppServices services(&dbManager, dbPath);
    services.start();

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
    // On a large file written without them the indexes take seconds to build, which must not
    // leave the window blank: they come once the window has shown its first frame.
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    if (!indexed && window) {
        QObject::connect(
                window, &QQuickWindow::frameSwapped, &dbManager,
                [] { dbManager.createIndexes(true); },
                Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
    } else if (!indexed) {
        dbManager.createIndexes();
    }
    return app.exec();
}
