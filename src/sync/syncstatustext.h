#pragma once

#include "caldavtransport.h"

#include <QString>

// The words of the sync's status line.
namespace SyncStatusText {

// Why the last search or sync failed; otherServer is where the server pointed, if anywhere.
QString error(SyncError error, int httpStatus, const QString &otherServer);
// How long ago the last sync ended.
QString synced(qint64 secondsAgo);

} // namespace SyncStatusText
