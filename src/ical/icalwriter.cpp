#include "icalwriter.h"

#include "icalconvert.h"
#include "icalholder.h"

#include <map>

namespace {

const QByteArray kHeader = QByteArrayLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
                                             "PRODID:-//Brellhaven//Tarvik//EN\r\n");
const QByteArray kFooter = QByteArrayLiteral("END:VCALENDAR\r\n");

void removeAll(icalcomponent *component, icalproperty_kind kind)
{
    while (icalproperty *property = icalcomponent_get_first_property(component, kind)) {
        icalcomponent_remove_property(component, property);
        icalproperty_free(property);
    }
}

// Puts property in place of every property of its kind.
void replace(icalcomponent *component, icalproperty *property)
{
    removeAll(component, icalproperty_isa(property));
    icalcomponent_add_property(component, property);
}

// The VTODO text of a task, and the VTIMEZONEs it needs, by TZID.
using Zones = std::map<QByteArray, QByteArray>;

QByteArray todoText(const IcalTask &task, const QDateTime &stamp, Zones &zones)
{
    IcalComponentPtr stored;
    icalcomponent *todo = nullptr;
    if (!task.calendar.isEmpty())
        stored = parseIcal(task.calendar);
    if (stored && icalcomponent_count_errors(stored.get()) == 0) {
        if (icalcomponent_isa(stored.get()) == ICAL_VTODO_COMPONENT)
            todo = stored.get();
        else
            todo = icalcomponent_get_first_component(stored.get(), ICAL_VTODO_COMPONENT);
        for (icalcomponent *zone =
                     icalcomponent_get_first_component(stored.get(), ICAL_VTIMEZONE_COMPONENT);
             zone;
             zone = icalcomponent_get_next_component(stored.get(), ICAL_VTIMEZONE_COMPONENT)) {
            const icalproperty *tzid = icalcomponent_get_first_property(zone, ICAL_TZID_PROPERTY);
            if (tzid && icalproperty_get_tzid(tzid))
                zones.emplace(QByteArray(icalproperty_get_tzid(tzid)), icalText(zone));
        }
    }
    IcalComponentPtr fresh;
    if (!todo) {
        fresh.reset(icalcomponent_new(ICAL_VTODO_COMPONENT));
        todo = fresh.get();
    }

    replace(todo, icalproperty_new_uid(task.uid.toUtf8().constData()));
    replace(todo, icalUtcProperty(ICAL_DTSTAMP_PROPERTY, stamp));
    replace(todo, icalproperty_new_summary(task.name.toUtf8().constData()));
    removeAll(todo, ICAL_DURATION_PROPERTY);
    if (task.due.isValid())
        replace(todo, icalUtcProperty(ICAL_DUE_PROPERTY, task.due));
    else
        removeAll(todo, ICAL_DUE_PROPERTY);
    // A pending task keeps a pending status it had (IN-PROCESS stays so).
    icalproperty *status = icalcomponent_get_first_property(todo, ICAL_STATUS_PROPERTY);
    if (task.done) {
        replace(todo, icalproperty_new_status(ICAL_STATUS_COMPLETED));
    } else {
        removeAll(todo, ICAL_COMPLETED_PROPERTY);
        if (!status || icalproperty_get_status(status) == ICAL_STATUS_COMPLETED)
            replace(todo, icalproperty_new_status(ICAL_STATUS_NEEDSACTION));
    }
    if (task.created.isValid())
        replace(todo, icalUtcProperty(ICAL_CREATED_PROPERTY, task.created));
    return icalText(todo);
}

QByteArray calendarText(const QByteArray &todos, const Zones &zones)
{
    QByteArray text = kHeader;
    for (const auto &zone : zones)
        text += zone.second;
    text += todos;
    text += kFooter;
    return foldIcalLines(text);
}

} // namespace

QByteArray IcalWriter::write(const QList<IcalTask> &tasks, const QDateTime &stamp)
{
    Zones zones;
    QByteArray todos;
    for (const IcalTask &task : tasks)
        todos += todoText(task, stamp, zones);
    return calendarText(todos, zones);
}

QByteArray IcalWriter::writeTask(const IcalTask &task, const QDateTime &stamp)
{
    Zones zones;
    const QByteArray todo = todoText(task, stamp, zones);
    return calendarText(todo, zones);
}
