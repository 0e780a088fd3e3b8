#pragma once

#include <QGuiApplication>
#include <QString>

// How the program names itself to the desktop: notifications, the tray and the autostart entry
// take the name, the desktop id and the icon from here.
namespace DesktopIdentity {

// The name the installed desktop entry gives the program.
inline QString name()
{
    return QStringLiteral("Tarvik Task Manager");
}

// The desktop entry's name without ".desktop" when the program declares one.
inline QString id()
{
    const QString desktopFile = QGuiApplication::desktopFileName();
    return desktopFile.isEmpty() ? QGuiApplication::applicationName() : desktopFile;
}

inline QString iconName()
{
    return id();
}

} // namespace DesktopIdentity
