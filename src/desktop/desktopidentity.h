#pragma once

#include <QGuiApplication>
#include <QString>

// How the program names itself to the desktop: notifications, the tray and the autostart entry
// take the name and the icon from here.
namespace DesktopIdentity {

inline QString name()
{
    return QGuiApplication::applicationDisplayName();
}

inline QString iconName()
{
    const QString desktopFile = QGuiApplication::desktopFileName();
    return desktopFile.isEmpty() ? QGuiApplication::applicationName() : desktopFile;
}

} // namespace DesktopIdentity
