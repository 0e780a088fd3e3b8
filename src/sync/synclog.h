#pragma once

#include <QLoggingCategory>

// Failures of the CalDAV sync a maintainer needs to see; off by default, on with
// QT_LOGGING_RULES="tarvik.sync.warning=true".
Q_DECLARE_LOGGING_CATEGORY(lcSync)
