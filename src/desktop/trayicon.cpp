#include "trayicon.h"

#include "desktopidentity.h"

#include <QPainter>
#include <QPixmap>

namespace {

// Used when the icon theme has no icon of the program's name and the program set no window icon.
QIcon fallbackIcon()
{
    if (!QGuiApplication::windowIcon().isNull())
        return QGuiApplication::windowIcon();

    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(0x72, 0x16, 0x75));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(pixmap.rect().adjusted(4, 4, -4, -4), 10, 10);
    painter.setPen(QPen(Qt::white, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygon({ QPoint(18, 33), QPoint(28, 43), QPoint(46, 22) }));
    return QIcon(pixmap);
}

} // namespace

TrayIcon::TrayIcon(QObject *parent)
    : QObject(parent)
{
    connect(m_menu.addAction(tr("Show")), &QAction::triggered, this, &TrayIcon::showRequested);
    connect(m_menu.addAction(tr("Quit")), &QAction::triggered, this, &TrayIcon::quitRequested);
    m_icon.setContextMenu(&m_menu);
    m_icon.setIcon(QIcon::fromTheme(DesktopIdentity::iconName(), fallbackIcon()));
    m_icon.setToolTip(DesktopIdentity::name());
    connect(&m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    emit showRequested();
            });
}

bool TrayIcon::available()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIcon::setVisible(bool visible)
{
    m_icon.setVisible(visible);
}
