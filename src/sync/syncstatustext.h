#pragma once

#include "caldavtransport.h"

#include <QString>
#include <QStringList>

// The words of the sync's status line.
namespace SyncStatusText {

// Why the last search or sync failed; otherServer is where the server pointed, if anywhere.
QString error(SyncError error, int httpStatus, const QString &otherServer);
// A pass held back count deletions for the person to confirm.
QString heldDeletions(int count);
// The tasks whose changes the server has not taken yet.
QString pending(const QStringList &names);
// How long ago the last sync ended.
QString synced(qint64 secondsAgo);

} // namespace SyncStatusText
