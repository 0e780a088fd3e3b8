#include "icalrepeat.h"

#include "icalconvert.h"
#include "icallines.h"
#include "icalzonetext.h"

#include <QTimeZone>

// The task's rule; the zone is the TZID of DTSTART or DUE where the system knows it.
Recurrence::Rule icalRepeatOf(icalcomponent *todo)
{
    Recurrence::Rule rule;
    icalproperty *rrule = icalcomponent_get_first_property(todo, ICAL_RRULE_PROPERTY);
    if (!rrule)
        return rule;
    const IcalStringPtr text(icalproperty_get_value_as_string_r(rrule));
    rule.rrule = QByteArray(text ? text.get() : "").trimmed();
    if (!Recurrence::isValid(rule.rrule))
        rule.rrule.clear();
    for (icalproperty *x = icalcomponent_get_first_property(todo, ICAL_X_PROPERTY); x;
         x = icalcomponent_get_next_property(todo, ICAL_X_PROPERTY)) {
        const char *name = icalproperty_get_x_name(x);
        const char *value = icalproperty_get_x(x);
        if (name && value && qstricmp(name, Recurrence::kFromProperty) == 0)
            rule.fromCompletion = qstricmp(value, "COMPLETION") == 0;
    }
    for (icalproperty_kind kind : { ICAL_DTSTART_PROPERTY, ICAL_DUE_PROPERTY }) {
        icalproperty *time = icalcomponent_get_first_property(todo, kind);
        icalparameter *tzid =
                time ? icalproperty_get_first_parameter(time, ICAL_TZID_PARAMETER) : nullptr;
        if (tzid && icalparameter_get_tzid(tzid)) {
            const QByteArray name(icalparameter_get_tzid(tzid));
            if (QTimeZone(name).isValid())
                rule.zone = name;
            break;
        }
        if (time) {
            // A time in UTC repeats in UTC; a floating one in local time.
            if (icaltime_is_utc(icalvalue_get_datetime(icalproperty_get_value(time))))
                rule.zone = "UTC";
            break;
        }
    }
    // Occurrences taken out of the series: times in UTC, in a zone the system knows, or in the
    // rule's zone; a date without a time names no occurrence of a series of times.
    for (icalproperty *exdate = icalcomponent_get_first_property(todo, ICAL_EXDATE_PROPERTY);
         exdate; exdate = icalcomponent_get_next_property(todo, ICAL_EXDATE_PROPERTY)) {
        const icaltimetype time = icalproperty_get_exdate(exdate);
        if (icaltime_is_null_time(time) || time.is_date)
            continue;
        icalparameter *tzid = icalproperty_get_first_parameter(exdate, ICAL_TZID_PARAMETER);
        const QTimeZone named(tzid && icalparameter_get_tzid(tzid)
                                      ? QByteArray(icalparameter_get_tzid(tzid))
                                      : QByteArray());
        const QTimeZone zone = icaltime_is_utc(time) ? QTimeZone::utc()
                               : named.isValid()     ? named
                                                     : rule.timeZone();
        const QDateTime at(QDate(time.year, time.month, time.day),
                           QTime(time.hour, time.minute, time.second), zone);
        if (at.isValid())
            rule.excluded.append(at);
    }
    return rule;
}

// A repeating task whose occurrence another client completed as an occurrence of its own
// (RECURRENCE-ID) or took out (EXDATE) is due at its first occurrence left.
void skipCompletedOccurrences(IcalTask &task, const QSet<qint64> &completed)
{
    if (!task.repeat || !task.repeat->repeats() || !task.due.isValid() || task.done)
        return;
    const QDateTime start = task.start.isValid() ? task.start : task.due;
    const qint64 offset = start.secsTo(task.due);
    QDateTime occurrence = start;
    // A series every occurrence of which is done is left to read as it is written.
    for (int i = 0; i < 1000
                    && (completed.contains(occurrence.toSecsSinceEpoch())
                        || task.repeat->excluded.contains(occurrence));
         ++i) {
        occurrence = Recurrence::nextOccurrence(*task.repeat, start, occurrence);
        if (!occurrence.isValid())
            return;
    }
    task.due = occurrence.addSecs(offset).toUTC();
    if (task.start.isValid())
        task.start = occurrence.toUTC();
}

namespace {

// A time as a property of the name, in the zone a TZID names where the system knows it (so that
// other clients count a rule's occurrences in the task's zone), else in UTC.
QByteArray zonedLine(const QByteArray &name, const QDateTime &time, const QByteArray &tzid)
{
    const QTimeZone zone(tzid);
    if (!tzid.isEmpty() && zone.isValid())
        return name + ";TZID=" + tzid + ':'
               + time.toTimeZone(zone).toString(QStringLiteral("yyyyMMdd'T'HHmmss")).toLatin1()
               + "\r\n";
    return name + ':' + icalUtcText(time) + "\r\n";
}

bool isDateLine(const QByteArray &line)
{
    return line.left(line.size() - icalLineValue(line).size()).toUpper().contains(";VALUE=DATE");
}

// The zone a rule's times are written in: the TZID the kept DUE names, else the zone the rule was
// made in, where a VTIMEZONE can say it; empty for UTC.
QByteArray writtenZone(const QByteArray &keptDue, const Recurrence::Rule &rule,
                       const QDateTime &due)
{
    const QByteArray kept = icalLineZone(keptDue);
    if (!kept.isEmpty())
        return kept;
    if (rule.zone.isEmpty() || rule.zone == "UTC" || isDateLine(keptDue))
        return {};
    return icalZoneDefinition(rule.zone, due.date().year()).isEmpty() ? QByteArray() : rule.zone;
}

} // namespace

// RRULE and the X- property of repeating from completion, where the task says other than the
// kept text; a task moved to its next occurrence keeps its DUE (and DTSTART, moved by the same
// span) in their zone.
QList<std::pair<QByteArray, QByteArray>> icalRepeatEdits(const QHash<QByteArray, QByteArray> &own,
                                                         const IcalTask &task, const IcalTask &kept)
{
    QList<std::pair<QByteArray, QByteArray>> edits;
    if (!task.repeat)
        return edits;
    const Recurrence::Rule &rule = *task.repeat;
    if (!kept.repeat || *kept.repeat != rule) {
        edits.append({ "RRULE", rule.repeats() ? "RRULE:" + rule.rrule + "\r\n" : QByteArray() });
        edits.append({ Recurrence::kFromProperty,
                       rule.repeats() && rule.fromCompletion
                               ? QByteArray(Recurrence::kFromProperty) + ":COMPLETION\r\n"
                               : QByteArray() });
    }
    const bool ruleChanged = !kept.repeat || *kept.repeat != rule;
    if (!rule.repeats() || !task.due.isValid()
        || (!ruleChanged && kept.due.isValid() && kept.due == task.due))
        return edits;
    const QByteArray zone = writtenZone(own.value("DUE"), rule, task.due);
    if (!zone.isEmpty() && !isDateLine(own.value("DUE")))
        edits.append({ "DUE", zonedLine("DUE", task.due, zone) });
    if (!kept.start.isValid() || !kept.due.isValid() || !own.contains("DTSTART"))
        return edits;
    const QDateTime start = kept.start.addSecs(kept.due.secsTo(task.due));
    const QByteArray oldStart = own.value("DTSTART");
    // A start without a time stays one, as RFC 5545 wants it beside a DUE of the same kind.
    if (isDateLine(oldStart))
        edits.append({ "DTSTART",
                       "DTSTART;VALUE=DATE:" + start.toLocalTime().toString(u"yyyyMMdd").toLatin1()
                               + "\r\n" });
    else
        edits.append(
                { "DTSTART",
                  zonedLine("DTSTART", start,
                            icalLineZone(oldStart).isEmpty() ? zone : icalLineZone(oldStart)) });
    return edits;
}
