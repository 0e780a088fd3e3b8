#pragma once

#include "icalholder.h"

#include <QByteArray>
#include <QDateTime>

// Parses one component (with what it nests) from text; null when libical finds none. Lines of
// any length are read in linear time.
IcalComponentPtr parseIcal(const QByteArray &text);

// The text of a component as libical writes it, lines unfolded.
QByteArray icalText(icalcomponent *component);

// The date-time named by fields in UTC, or in local time; invalid when the fields do not name a
// real date and time.
QDateTime icalFieldsToDateTime(const icaltimetype &time, bool utc);

// A property of the given kind holding dateTime in UTC. Made from text: libical's own time
// setters write years past 3000 as 00000000T000000.
icalproperty *icalUtcProperty(icalproperty_kind kind, const QDateTime &dateTime);

// text folded into lines of at most 75 octets, CR LF after each, never inside a UTF-8
// character; text holds unfolded lines separated by CR LF or LF.
QByteArray foldIcalLines(const QByteArray &text);
