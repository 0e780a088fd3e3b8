#include "icalzonetext.h"

#include "icallines.h"

#include <QDateTime>
#include <QTimeZone>

#include <cstdlib>

namespace {

const char *const kWeekdays[] = { "MO", "TU", "WE", "TH", "FR", "SA", "SU" };

QByteArray twoDigits(int value)
{
    return QByteArray::number(value).rightJustified(2, '0');
}

QByteArray offsetText(int seconds)
{
    const char sign = seconds < 0 ? '-' : '+';
    const int magnitude = std::abs(seconds);
    QByteArray text = sign + twoDigits(magnitude / 3600) + twoDigits(magnitude % 3600 / 60);
    if (magnitude % 60)
        text += twoDigits(magnitude % 60);
    return text;
}

// A yearly change: its month, its weekday (Monday 1) and which of them in the month (-1 the
// last), at a wall-clock time before the change.
struct Onset
{
    int month = 0;
    int weekday = 0;
    int position = 0;
    QTime time;
    int offsetBefore = 0;
    QTimeZone::OffsetData after;

    QDate dateIn(int year) const
    {
        if (position > 0) {
            const QDate first(year, month, 1);
            return first.addDays((weekday - first.dayOfWeek() + 7) % 7 + 7 * (position - 1));
        }
        const QDate first(year, month, 1);
        const QDate last(year, month, first.daysInMonth());
        return last.addDays(-((last.dayOfWeek() - weekday + 7) % 7));
    }
};

Onset onsetOf(const QTimeZone &zone, const QTimeZone::OffsetData &change)
{
    Onset onset;
    onset.offsetBefore = zone.offsetFromUtc(change.atUtc.addSecs(-1));
    onset.after = change;
    // The wall-clock time before the change, as fields.
    const QDateTime wall = change.atUtc.toUTC().addSecs(onset.offsetBefore);
    const QDate date = wall.date();
    onset.month = date.month();
    onset.weekday = date.dayOfWeek();
    onset.position = date.day() + 7 > date.daysInMonth() ? -1 : (date.day() - 1) / 7 + 1;
    onset.time = wall.time();
    return onset;
}

// Whether the zone's changes of a year are those the onsets give.
bool followsOnsets(const QTimeZone &zone, const QList<Onset> &onsets, int year)
{
    const QTimeZone::OffsetDataList changes =
            zone.transitions(QDateTime(QDate(year, 1, 1), QTime(0, 0), Qt::UTC),
                             QDateTime(QDate(year, 12, 31), QTime(23, 59, 59), Qt::UTC));
    if (changes.size() != onsets.size())
        return false;
    for (const QTimeZone::OffsetData &change : changes) {
        const Onset seen = onsetOf(zone, change);
        bool found = false;
        for (const Onset &onset : onsets) {
            found = found
                    || (onset.dateIn(year) == seen.dateIn(year) && onset.time == seen.time
                        && onset.offsetBefore == seen.offsetBefore
                        && onset.after.offsetFromUtc == change.offsetFromUtc);
        }
        if (!found)
            return false;
    }
    return true;
}

QByteArray observance(const Onset &onset)
{
    const QByteArray kind = onset.after.daylightTimeOffset > 0 ? "DAYLIGHT" : "STANDARD";
    QByteArray text = "BEGIN:" + kind + "\r\n";
    if (!onset.after.abbreviation.isEmpty())
        text += "TZNAME:" + onset.after.abbreviation.toUtf8() + "\r\n";
    text += "TZOFFSETFROM:" + offsetText(onset.offsetBefore) + "\r\n";
    text += "TZOFFSETTO:" + offsetText(onset.after.offsetFromUtc) + "\r\n";
    text += "DTSTART:" + onset.dateIn(1970).toString(u"yyyyMMdd").toLatin1() + 'T'
            + onset.time.toString(u"HHmmss").toLatin1() + "\r\n";
    text += "RRULE:FREQ=YEARLY;BYMONTH=" + QByteArray::number(onset.month) + ";BYDAY="
            + QByteArray::number(onset.position) + kWeekdays[onset.weekday - 1] + "\r\n";
    return text + "END:" + kind + "\r\n";
}

} // namespace

QByteArray icalZoneDefinition(const QByteArray &tzid, int year)
{
    const QTimeZone zone(tzid);
    if (tzid.isEmpty() || !zone.isValid())
        return {};
    QByteArray observances;
    const QTimeZone::OffsetDataList changes =
            zone.hasTransitions()
                    ? zone.transitions(QDateTime(QDate(year, 1, 1), QTime(0, 0), Qt::UTC),
                                       QDateTime(QDate(year, 12, 31), QTime(23, 59, 59), Qt::UTC))
                    : QTimeZone::OffsetDataList();
    if (changes.isEmpty()) {
        // No change that year: one offset, as the zone has it in the middle of the year.
        const int offset = zone.offsetFromUtc(QDateTime(QDate(year, 7, 1), QTime(0, 0), Qt::UTC));
        if (zone.hasTransitions()
            && !followsOnsets(zone, {}, year + 1)) // a zone that starts changing again
            return {};
        observances = "BEGIN:STANDARD\r\nTZOFFSETFROM:" + offsetText(offset) + "\r\nTZOFFSETTO:"
                      + offsetText(offset) + "\r\nDTSTART:19700101T000000\r\nEND:STANDARD\r\n";
    } else {
        QList<Onset> onsets;
        for (const QTimeZone::OffsetData &change : changes)
            onsets.append(onsetOf(zone, change));
        for (int later = year; later <= year + 2; ++later) {
            if (!followsOnsets(zone, onsets, later))
                return {};
        }
        for (const Onset &onset : onsets)
            observances += observance(onset);
    }
    return "BEGIN:VTIMEZONE\r\nTZID:" + tzid + "\r\n" + observances + "END:VTIMEZONE\r\n";
}

QByteArray icalLineZone(const QByteArray &line)
{
    const QByteArray head = line.left(line.size() - icalLineValue(line).size());
    const qsizetype at = head.toUpper().indexOf(";TZID=");
    if (at < 0)
        return {};
    QByteArray tzid = head.mid(at + 6);
    if (tzid.startsWith('"'))
        return tzid.mid(1, tzid.indexOf('"', 1) - 1);
    qsizetype end = 0;
    while (end < tzid.size() && tzid.at(end) != ';' && tzid.at(end) != ':')
        ++end;
    return tzid.left(end);
}
