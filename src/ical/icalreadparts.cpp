#include "icalreadparts.h"

#include "icalconvert.h"

namespace {

// The longest message of libical's shown, in characters.
constexpr qsizetype kMaxMessage = 160;

} // namespace

// The text of the first X-LIC-ERROR libical left in a component.
QString icalComponentMessage(icalcomponent *component)
{
    if (icalproperty *error =
                icalcomponent_get_first_property(component, ICAL_XLICERROR_PROPERTY)) {
        const char *text = icalproperty_get_xlicerror(error);
        if (text && *text) {
            // libical quotes the whole bad value, which may be a megabyte long.
            const QString message = QString::fromUtf8(text, qstrnlen(text, kMaxMessage + 1));
            return message.size() > kMaxMessage ? message.left(kMaxMessage) + u'…' : message;
        }
    }
    for (icalcomponent *inner = icalcomponent_get_first_component(component, ICAL_ANY_COMPONENT);
         inner; inner = icalcomponent_get_next_component(component, ICAL_ANY_COMPONENT)) {
        if (icalcomponent_count_errors(inner) > 0)
            return icalComponentMessage(inner);
    }
    return QStringLiteral("not valid iCalendar");
}

// The name as the task list shows it: one line, without control characters.
QString icalCleanName(const char *summary)
{
    QString name = QString::fromUtf8(summary ? summary : "");
    for (QChar &c : name) {
        if (c == u'\n' || c == u'\r' || c == u'\t')
            c = u' ';
    }
    name.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return name.simplified();
}

// The date-time of a property, or invalid when it has none.
QDateTime icalPropertyTime(icalcomponent *component, icalproperty_kind kind)
{
    icalproperty *property = icalcomponent_get_first_property(component, kind);
    if (!property)
        return {};
    const icaltimetype time = icalvalue_get_datetime(icalproperty_get_value(property));
    return icalFieldsToDateTime(time, icaltime_is_utc(time));
}

// The TZIDs the date-time properties of the component refer to; a TZID on a property this
// program and libical do not know (X-) asks for no time zone to be kept.
void icalCollectZones(icalcomponent *component, QSet<QByteArray> &zones)
{
    for (icalproperty *property = icalcomponent_get_first_property(component, ICAL_ANY_PROPERTY);
         property; property = icalcomponent_get_next_property(component, ICAL_ANY_PROPERTY)) {
        const icalproperty_kind kind = icalproperty_isa(property);
        if (kind == ICAL_X_PROPERTY)
            continue;
        icalparameter *tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
        if (tzid && icalparameter_get_tzid(tzid))
            zones.insert(QByteArray(icalparameter_get_tzid(tzid)));
    }
}
