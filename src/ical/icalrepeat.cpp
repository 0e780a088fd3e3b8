#include "icalrepeat.h"

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
