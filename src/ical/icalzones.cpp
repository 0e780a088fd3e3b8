#include "icalzones.h"

#include "icalconvert.h"

namespace {

// Calendar programs write a few time zones to a file, each with a few yearly rules; libical
// expands every rule of a zone it converts with, so a file beyond these limits could keep it
// busy for hours.
constexpr int kMaxZones = 100;
constexpr int kMaxZoneRules = 16;
constexpr int kMaxOnsetsInFourYears = 8;
// Zones kept for the calendars read next, by their text; more than a few are not in use at once.
constexpr int kMaxKeptZones = 64;

// Whether every error libical left in a component is a property name it does not know: the
// properties it knows were all read.
bool onlyUnknownNames(icalcomponent *component)
{
    for (icalproperty *error = icalcomponent_get_first_property(component, ICAL_XLICERROR_PROPERTY);
         error; error = icalcomponent_get_next_property(component, ICAL_XLICERROR_PROPERTY)) {
        icalparameter *type = icalproperty_get_first_parameter(error, ICAL_XLICERRORTYPE_PARAMETER);
        if (!type || icalparameter_get_xlicerrortype(type) != ICAL_XLICERRORTYPE_PROPERTYPARSEERROR)
            return false;
    }
    for (icalcomponent *inner = icalcomponent_get_first_component(component, ICAL_ANY_COMPONENT);
         inner; inner = icalcomponent_get_next_component(component, ICAL_ANY_COMPONENT)) {
        if (!onlyUnknownNames(inner))
            return false;
    }
    return true;
}

// Whether every rule of a VTIMEZONE is yearly with at most a couple of onsets a year, as the
// rules of real time zones are.
bool sensibleZone(icalcomponent *zone)
{
    int rules = 0;
    for (icalcomponent *observance = icalcomponent_get_first_component(zone, ICAL_ANY_COMPONENT);
         observance; observance = icalcomponent_get_next_component(zone, ICAL_ANY_COMPONENT)) {
        const icaltimetype start = icalcomponent_get_dtstart(observance);
        for (icalproperty *rule = icalcomponent_get_first_property(observance, ICAL_RRULE_PROPERTY);
             rule; rule = icalcomponent_get_next_property(observance, ICAL_RRULE_PROPERTY)) {
            const icalrecurrencetype recurrence = icalproperty_get_rrule(rule);
            if (++rules > kMaxZoneRules || recurrence.freq != ICAL_YEARLY_RECURRENCE)
                return false;
            icalrecur_iterator *onsets = icalrecur_iterator_new(recurrence, start);
            if (!onsets)
                return false;
            int count = 0;
            icaltimetype onset = icalrecur_iterator_next(onsets);
            while (!icaltime_is_null_time(onset) && onset.year < start.year + 4
                   && count <= kMaxOnsetsInFourYears) {
                ++count;
                onset = icalrecur_iterator_next(onsets);
            }
            icalrecur_iterator_free(onsets);
            if (count > kMaxOnsetsInFourYears)
                return false;
        }
    }
    return true;
}

} // namespace

icaltimetype icalZonedToUtc(icaltimetype time, icaltimezone *zone)
{
    constexpr int kLastYearExpanded = 2037;
    constexpr int kCycle = 400;
    const int shift = time.year > kLastYearExpanded
                              ? (time.year - kLastYearExpanded + kCycle - 1) / kCycle * kCycle
                              : 0;
    time.year -= shift;
    time.zone = zone;
    icaltimetype utc = icaltime_convert_to_zone(time, icaltimezone_get_utc_timezone());
    utc.year += shift;
    return utc;
}

bool IcalZones::define(const QByteArray &text, QString &error)
{
    // libical's zones may not be shared between threads; each thread keeps its own.
    thread_local std::map<QByteArray, std::pair<QByteArray, std::shared_ptr<icaltimezone>>> kept;
    const auto known = kept.find(text);
    if (known != kept.end()) {
        if (m_zones.size() >= size_t(kMaxZones)) {
            error = QStringLiteral("more than %1 time zones").arg(kMaxZones);
            return false;
        }
        m_zones[known->second.first] = Zone { known->second.second, text };
        return true;
    }
    IcalComponentPtr component = parseIcal(text);
    if (!component) {
        error = QStringLiteral("not valid iCalendar");
        return false;
    }
    if (!onlyUnknownNames(component.get())) {
        error = QStringLiteral("a time zone libical cannot read");
        return false;
    }
    const icalproperty *tzid =
            icalcomponent_get_first_property(component.get(), ICAL_TZID_PROPERTY);
    const QByteArray name = tzid ? QByteArray(icalproperty_get_tzid(tzid)) : QByteArray();
    if (name.isEmpty())
        return true; // a zone nobody can refer to
    if (m_zones.size() >= size_t(kMaxZones)) {
        error = QStringLiteral("more than %1 time zones").arg(kMaxZones);
        return false;
    }
    if (!sensibleZone(component.get())) {
        error = QStringLiteral("a time zone with rules no time zone has");
        return false;
    }
    std::shared_ptr<icaltimezone> zone(icaltimezone_new(), IcalTimezoneFree());
    if (!icaltimezone_set_component(zone.get(), component.get())) {
        error = QStringLiteral("not a valid VTIMEZONE");
        return false;
    }
    component.release(); // the zone owns it now
    if (kept.size() >= size_t(kMaxKeptZones))
        kept.clear();
    kept[text] = { name, zone };
    m_zones[name] = Zone { std::move(zone), text };
    return true;
}

icaltimezone *IcalZones::named(const QByteArray &tzid) const
{
    const auto defined = m_zones.find(tzid);
    if (defined != m_zones.end())
        return defined->second.zone.get();
    return icaltimezone_get_builtin_timezone(tzid.constData());
}

QByteArray IcalZones::text(const QByteArray &tzid) const
{
    const auto defined = m_zones.find(tzid);
    return defined != m_zones.end() ? defined->second.text : QByteArray();
}
