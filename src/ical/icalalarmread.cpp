// Reading the alarms other programs write into a task: part of IcalAlarm.
#include "icalalarm.h"

#include "icalconvert.h"

#include <QByteArray>

#include <limits>

namespace IcalAlarm {

namespace {

bool isOwn(icalcomponent *alarm)
{
    for (icalproperty *property = icalcomponent_get_first_property(alarm, ICAL_X_PROPERTY);
         property; property = icalcomponent_get_next_property(alarm, ICAL_X_PROPERTY)) {
        const char *name = icalproperty_get_x_name(property);
        if (name && qstricmp(name, kMarker) == 0)
            return true;
    }
    return false;
}

// The value and parameters of a date-time property as written, to tell two apart.
QByteArray writtenAs(icalcomponent *todo, icalproperty_kind kind)
{
    icalproperty *property = icalcomponent_get_first_property(todo, kind);
    if (!property)
        return {};
    const IcalStringPtr text(icalproperty_as_ical_string_r(property));
    QByteArray line(text ? text.get() : "");
    line.replace("\r\n ", "").replace("\r\n\t", "");
    const qsizetype name = line.indexOf(';') >= 0 && line.indexOf(';') < line.indexOf(':')
                                   ? line.indexOf(';')
                                   : line.indexOf(':');
    return line.mid(name).trimmed();
}

// Minutes before due, or -1 when the alarm is not one this program can show as its own.
int leadOf(icalcomponent *todo, icalcomponent *alarm, const QDateTime &due)
{
    icalproperty *action = icalcomponent_get_first_property(alarm, ICAL_ACTION_PROPERTY);
    icalproperty *trigger = icalcomponent_get_first_property(alarm, ICAL_TRIGGER_PROPERTY);
    if (!action || !trigger)
        return -1;
    const icalproperty_action kind = icalproperty_get_action(action);
    if (kind != ICAL_ACTION_DISPLAY && kind != ICAL_ACTION_AUDIO)
        return -1;
    const icaltriggertype when = icalproperty_get_trigger(trigger);
    qint64 seconds = 0;
    if (!icaltime_is_null_time(when.time)) {
        // An absolute trigger is in UTC.
        if (!icaltime_is_utc(when.time) || when.time.is_date)
            return -1;
        const QDateTime at = icalFieldsToDateTime(when.time, true);
        if (!at.isValid())
            return -1;
        seconds = due.toSecsSinceEpoch() - at.toSecsSinceEpoch();
    } else {
        icalparameter *related = icalproperty_get_first_parameter(trigger, ICAL_RELATED_PARAMETER);
        const bool fromEnd = related && icalparameter_get_related(related) == ICAL_RELATED_END;
        // The start stands for the due time only where the task starts when it is due.
        const QByteArray start = writtenAs(todo, ICAL_DTSTART_PROPERTY);
        if (!fromEnd && !start.isEmpty() && start != writtenAs(todo, ICAL_DUE_PROPERTY))
            return -1;
        seconds = -qint64(icaldurationtype_as_int(when.duration));
    }
    if (seconds < 0 || seconds % 60 != 0 || seconds / 60 > std::numeric_limits<int>::max())
        return -1;
    return int(seconds / 60);
}

} // namespace

std::optional<int> leadIn(const QByteArray &text, const QDateTime &due)
{
    // Only this program's own alarms: nothing to read.
    const qsizetype alarms = text.count("BEGIN:VALARM");
    if (!due.isValid() || (alarms > 0 && alarms == text.count(QByteArray(kMarker) + ':')))
        return std::nullopt;
    const IcalComponentPtr parsed = parseIcal(text);
    if (!parsed)
        return std::nullopt;
    icalcomponent *todo =
            icalcomponent_isa(parsed.get()) == ICAL_VTODO_COMPONENT
                    ? parsed.get()
                    : icalcomponent_get_first_component(parsed.get(), ICAL_VTODO_COMPONENT);
    if (!todo || icalcomponent_get_first_property(todo, ICAL_DUE_PROPERTY) == nullptr)
        return std::nullopt;
    for (icalcomponent *alarm = icalcomponent_get_first_component(todo, ICAL_VALARM_COMPONENT);
         alarm; alarm = icalcomponent_get_next_component(todo, ICAL_VALARM_COMPONENT)) {
        if (isOwn(alarm))
            continue;
        const int lead = leadOf(todo, alarm, due);
        if (lead >= 0)
            return lead;
    }
    return std::nullopt;
}

} // namespace IcalAlarm
