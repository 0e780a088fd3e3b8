#pragma once

#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

// The icon in the desktop's tray while the program keeps running in the background, with
// "Show" and "Quit" in its menu; clicking the icon shows the window too.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    explicit TrayIcon(QObject *parent = nullptr);

    static bool available();
    void setVisible(bool visible);

signals:
    void showRequested();
    void quitRequested();

private:
    QMenu m_menu;
    QSystemTrayIcon m_icon;
};
