#pragma once

#include <QByteArray>

// A VTIMEZONE for a zone of the system as other clients write one: the zone's rules of the year
// named, each a yearly change on the n-th or last weekday of its month, from 1970 on. Empty when
// the system does not know the zone, or when its changes of that year and the two after follow
// no such rule: a time in that zone is then better written in UTC.
QByteArray icalZoneDefinition(const QByteArray &tzid, int year);

// The TZID a property line names ("DUE;TZID=Europe/Berlin:..."), without quotes; empty for none.
QByteArray icalLineZone(const QByteArray &line);
