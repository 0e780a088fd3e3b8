#pragma once

#include "icalholder.h"

#include <QByteArray>
#include <QDateTime>

// The PRODID of everything this program writes.
inline constexpr char kIcalProductId[] = "-//Brellhaven//Tarvik//EN";

// The lines that open a VCALENDAR this program writes: BEGIN, VERSION and PRODID.
QByteArray icalCalendarHeader();

// Parses one component (with what it nests) from text; null when libical finds none. Lines of
// any length are read in linear time. A property libical does not know is kept under its own
// name where libical can (IANA tokens), else replaced by an X-LIC-ERROR: the component is still
// returned, and the text it came from is what this program writes back.
IcalComponentPtr parseIcal(const QByteArray &text);

// The date-time named by fields in UTC, or in local time; invalid when the fields do not name a
// real date and time.
QDateTime icalFieldsToDateTime(const icaltimetype &time, bool utc);

// dateTime as an iCalendar DATE-TIME in UTC ("20270102T093000Z"). Written as text: libical's own
// time setters write years past 3000 as 00000000T000000.
QByteArray icalUtcText(const QDateTime &dateTime);

// text folded into lines of at most 75 octets, CR LF after each, never inside a UTF-8
// character; text holds unfolded lines separated by CR LF or LF.
QByteArray foldIcalLines(const QByteArray &text);
