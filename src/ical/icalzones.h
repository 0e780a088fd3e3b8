#pragma once

#include "icalholder.h"

#include <QByteArray>
#include <QString>

#include <map>

// The time zones a calendar defines (VTIMEZONE), each checked before libical may convert with
// it, and the system's zones for the TZIDs it does not define.
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
        IcalTimezonePtr zone;
        QByteArray text;
    };
    std::map<QByteArray, Zone> m_zones;
};
