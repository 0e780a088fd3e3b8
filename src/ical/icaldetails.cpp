#include "icaldetails.h"

#include "icalholder.h"

namespace {

// A line libical writes for a property (escaped as its value type needs), unfolded.
QByteArray lineOf(icalproperty *property)
{
    const IcalPropertyPtr holder(property);
    const IcalStringPtr text(icalproperty_as_ical_string_r(property));
    QByteArray line(text ? text.get() : "");
    line.replace("\r\n ", "").replace("\r\n\t", "");
    return line.endsWith("\r\n") ? line : line + "\r\n";
}

} // namespace

namespace IcalDetails {

// Every CATEGORIES property counts, each with one or more comma-separated tags.
TaskDetails read(icalcomponent *todo)
{
    TaskDetails details;
    const char *description = icalcomponent_get_description(todo);
    details.notes = QString::fromUtf8(description ? description : "");
    if (icalproperty *priority = icalcomponent_get_first_property(todo, ICAL_PRIORITY_PROPERTY)) {
        const int received = icalproperty_get_priority(priority);
        details.priority = level(received);
        if (value(details) != received)
            details.priorityRaw = received;
    }
    QStringList tags;
    for (icalproperty *property = icalcomponent_get_first_property(todo, ICAL_CATEGORIES_PROPERTY);
         property; property = icalcomponent_get_next_property(todo, ICAL_CATEGORIES_PROPERTY)) {
        const char *text = icalproperty_get_categories(property);
        tags.append(QString::fromUtf8(text ? text : ""));
    }
    details.tags = TaskDetails::parseTags(tags.join(QLatin1Char(',')));
    return details;
}

int level(int value)
{
    if (value >= 1 && value <= 4)
        return TaskDetails::High;
    if (value == 5)
        return TaskDetails::Medium;
    if (value >= 6 && value <= 9)
        return TaskDetails::Low;
    return TaskDetails::None;
}

int value(const TaskDetails &details)
{
    if (details.priorityRaw >= 0)
        return details.priorityRaw;
    switch (details.priority) {
    case TaskDetails::High:
        return 1;
    case TaskDetails::Medium:
        return 5;
    case TaskDetails::Low:
        return 9;
    default:
        return -1;
    }
}

QByteArray descriptionLine(const QString &notes)
{
    return notes.isEmpty() ? QByteArray()
                           : lineOf(icalproperty_new_description(notes.toUtf8().constData()));
}

QByteArray priorityLine(const TaskDetails &details)
{
    const int written = value(details);
    return written < 0 ? QByteArray() : lineOf(icalproperty_new_priority(written));
}

// libical would escape the commas between the tags as part of one value: the tags are escaped
// one by one and joined.
QByteArray categoriesLine(const QStringList &tags)
{
    QByteArray line;
    for (const QString &tag : tags) {
        QByteArray one = lineOf(icalproperty_new_categories(tag.toUtf8().constData()));
        one = one.mid(one.indexOf(':') + 1);
        one.chop(2);
        line += (line.isEmpty() ? "CATEGORIES:" : ",") + one;
    }
    return line.isEmpty() ? line : line + "\r\n";
}

} // namespace IcalDetails
