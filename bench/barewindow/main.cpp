// The reference for the start-up figure: an empty Qt Quick Controls window, with the same style
// and size as the program's window, its QML compiled and loaded the same way.
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QQuickStyle::setStyle(QStringLiteral("Universal"));

    QQmlApplicationEngine engine;
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/BareWindow/Main.qml")));
    if (engine.rootObjects().isEmpty())
        return -1;
    return app.exec();
}
