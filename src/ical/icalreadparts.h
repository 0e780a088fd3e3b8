#pragma once

#include "icalholder.h"
#include "icallines.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>

// What the reader takes from libical's components.

// The text of the first X-LIC-ERROR libical left in a component, shortened.
QString icalComponentMessage(icalcomponent *component);
// The name as the task list shows it: one line, without control characters.
QString icalCleanName(const char *summary);
// The date-time of a property, or invalid when it has none.
QDateTime icalPropertyTime(icalcomponent *component, icalproperty_kind kind);
// The TZIDs the date-time properties of the component refer to; a TZID on a property this
// program and libical do not know (X-) asks for no time zone to be kept.
void icalCollectZones(icalcomponent *component, QSet<QByteArray> &zones);

class IcalZones;

// The line (counted from the block's first) of the first property of a VTODO that the task list
// shows and libical could not read, with libical's words; 0: none. With dueAlone, a DUE that
// cannot be read is passed over and sets dueUnread instead: the task comes without its due time.
int icalUnreadShownProperty(const QByteArray &data, const IcalBlock &block, bool dueAlone,
                            bool &dueUnread, QString &message);
// A date-time property as a due time: a date at 23:59 local time (counted in dateOnly), a time
// in UTC, a floating time or one in an unknown zone (counted in unknownZones) in local time;
// invalid before year 1. The counts may be null.
QDateTime icalDueValue(icalproperty *property, const IcalZones &zones, int *dateOnly,
                       int *unknownZones);
