#pragma once

#include "icalholder.h"

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
