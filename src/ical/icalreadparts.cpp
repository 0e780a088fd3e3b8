#include "icalreadparts.h"

#include "icalconvert.h"
#include "icalzones.h"

namespace {

// The longest message of libical's shown, in characters.
constexpr qsizetype kMaxMessage = 160;

// The properties of a VTODO whose loss would change the task as the list shows it.
const QSet<QByteArray> kShownProperties { "SUMMARY", "DUE", "STATUS", "COMPLETED",
                                          "RECURRENCE-ID" };

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

int icalUnreadShownProperty(const QByteArray &data, const IcalBlock &block, bool dueAlone,
                            bool &dueUnread, QString &message)
{
    IcalLineReader reader(data, block.begin, block.end);
    IcalLine line;
    bool nul = false;
    int depth = 0;
    while (reader.next(line, nul)) {
        const QByteArray name = icalPropertyName(line, data);
        depth += name == "BEGIN" ? 1 : name == "END" ? -1 : 0;
        if (depth != 1 || !kShownProperties.contains(name)
            || icalLineValue(icalUnfoldedLine(line, data)).trimmed().isEmpty()
            || (name == "DUE" && dueUnread))
            continue; // an empty value (libical refuses it) holds nothing to lose
        const IcalComponentPtr alone =
                parseIcal("BEGIN:VTODO\r\n" + data.mid(line.begin, line.end - line.begin)
                          + "\r\nEND:VTODO\r\n");
        if (!alone
            || !icalcomponent_get_first_property(alone.get(),
                                                 icalproperty_string_to_kind(name.data()))) {
            if (name == "DUE" && dueAlone) {
                dueUnread = true;
                continue;
            }
            message = alone ? icalComponentMessage(alone.get()) : QStringLiteral("not valid");
            return block.firstLine + line.number - 1;
        }
    }
    return 0;
}

QDateTime icalDueValue(icalproperty *property, const IcalZones &zones, int *dateOnly,
                       int *unknownZones)
{
    icaltimetype due = icalvalue_get_datetime(icalproperty_get_value(property));
    if (due.is_date) {
        const QDate date(due.year, due.month, due.day);
        if (!date.isValid() || due.year <= 0)
            return {};
        if (dateOnly)
            ++*dateOnly;
        return QDateTime(date, QTime(23, 59));
    }
    if (due.year <= 0)
        return {}; // before the calendar's first year
    if (icaltime_is_utc(due))
        return icalFieldsToDateTime(due, true);
    icalparameter *parameter = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
    if (!parameter)
        return icalFieldsToDateTime(due, false); // floating: the reader's time
    icaltimezone *zone = zones.named(QByteArray(icalparameter_get_tzid(parameter)));
    if (!zone) {
        if (unknownZones)
            ++*unknownZones;
        return icalFieldsToDateTime(due, false);
    }
    return icalFieldsToDateTime(icalZonedToUtc(due, zone), true);
}
