#include "icalrepeat.h"

#include "icalconvert.h"
#include "icallines.h"

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
    return rule;
}

// A repeating task whose occurrence another client completed as an occurrence of its own
// (RECURRENCE-ID) is due at its first occurrence not completed.
void skipCompletedOccurrences(IcalTask &task, const QSet<qint64> &completed)
{
    if (!task.repeat || !task.repeat->repeats() || !task.due.isValid() || task.done)
        return;
    const QDateTime start = task.start.isValid() ? task.start : task.due;
    const qint64 offset = start.secsTo(task.due);
    const QTimeZone zone = task.repeat->timeZone();
    QDateTime occurrence = start;
    // A series every occurrence of which is done is left to read as it is written.
    for (int i = 0; i < 1000 && completed.contains(occurrence.toSecsSinceEpoch()); ++i) {
        occurrence = Recurrence::nextOccurrence(task.repeat->rrule, start, zone, occurrence);
        if (!occurrence.isValid())
            return;
    }
    task.due = occurrence.addSecs(offset).toUTC();
    if (task.start.isValid())
        task.start = occurrence.toUTC();
}

// A time as a property of the name, in the zone of the TZID the kept line names where the
// system knows it (so that other clients count a rule's occurrences in the task's zone), else
// in UTC.
namespace {

QByteArray zonedLine(const QByteArray &name, const QDateTime &time, const QByteArray &keptLine)
{
    const QByteArray head = keptLine.left(keptLine.size() - icalLineValue(keptLine).size());
    const qsizetype at = head.toUpper().indexOf(";TZID=");
    if (at >= 0) {
        QByteArray tzid = head.mid(at + 6);
        const bool quoted = tzid.startsWith('"');
        qsizetype end = quoted ? tzid.indexOf('"', 1) + 1 : 0;
        while (!quoted && end < tzid.size() && tzid.at(end) != ';' && tzid.at(end) != ':')
            ++end;
        tzid.truncate(end);
        const QByteArray bare = tzid.startsWith('"') ? tzid.mid(1, tzid.size() - 2) : tzid;
        const QTimeZone zone(bare);
        if (zone.isValid())
            return name + ";TZID=" + tzid + ':'
                   + time.toTimeZone(zone).toString(QStringLiteral("yyyyMMdd'T'HHmmss")).toLatin1()
                   + "\r\n";
    }
    return name + ':' + icalUtcText(time) + "\r\n";
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
    if (!rule.repeats() || !task.due.isValid() || !kept.due.isValid() || kept.due == task.due)
        return edits;
    if (own.value("DUE").toUpper().contains(";TZID="))
        edits.append({ "DUE", zonedLine("DUE", task.due, own.value("DUE")) });
    if (!kept.start.isValid() || !own.contains("DTSTART"))
        return edits;
    const QDateTime start = kept.start.addSecs(kept.due.secsTo(task.due));
    const QByteArray oldStart = own.value("DTSTART");
    // A start without a time stays one, as RFC 5545 wants it beside a DUE of the same kind.
    if (oldStart.left(oldStart.size() - icalLineValue(oldStart).size())
                .toUpper()
                .contains(";VALUE=DATE"))
        edits.append({ "DTSTART",
                       "DTSTART;VALUE=DATE:" + start.toLocalTime().toString(u"yyyyMMdd").toLatin1()
                               + "\r\n" });
    else
        edits.append({ "DTSTART", zonedLine("DTSTART", start, oldStart) });
    return edits;
}
