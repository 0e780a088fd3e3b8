#pragma once

#include <QLoggingCategory>

// Failures of the desktop integration (notification server, single instance, tray, autostart).
// Off by default; QT_LOGGING_RULES="tarvik.desktop.debug=true" shows them.
Q_DECLARE_LOGGING_CATEGORY(lcDesktop)
