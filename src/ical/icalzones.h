#pragma once

#include "icalholder.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>

// The time zones a calendar defines (VTIMEZONE), each checked before libical may convert with
// it, and the system's zones for the TZIDs it does not define. libical works out a zone's
// offsets from its rules the first time it converts with it, which takes milliseconds; a zone
// is therefore kept for the next calendar that defines it with the same text, as the resources
// of one calendar server do.
// A time in a zone, in UTC. libical works out a zone's changes up to 2037 at most, and for a
// later time works them out again on every conversion, from the zone's first year; the Gregorian
// calendar repeats itself every 400 years to the weekday, so a later time converts as the same
// time whole 400-year cycles earlier, once the zone's changes are known, and moves back after.
icaltimetype icalZonedToUtc(icaltimetype time, icaltimezone *zone);

class IcalZones
{
public:
    // Defines the zone of a VTIMEZONE text; false with error set when the text is no sound time
    // zone, or one too many. A zone without TZID is accepted and ignored.
    bool define(const QByteArray &text, QString &error);
    // The zone a TZID names: the calendar's own definition first, then the system's; null for
    // an unknown name.
    icaltimezone *named(const QByteArray &tzid) const;
    // The VTIMEZONE text of a zone the calendar defines; empty for any other.
    QByteArray text(const QByteArray &tzid) const;

private:
    struct Zone
    {
        std::shared_ptr<icaltimezone> zone;
        QByteArray text;
    };
    std::map<QByteArray, Zone> m_zones;
};
