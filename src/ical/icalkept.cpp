#include "icalkept.h"

#include "icalconvert.h"
#include "icaldetails.h"
#include "icalholder.h"
#include "icallines.h"
#include "icalreader.h"
#include "icalreadparts.h"
#include "icalzones.h"

#include <array>

namespace {

// The properties compared, each with its first line and how many lines it has.
enum Property { Summary, Status, Completed, Due, Description, Priority, Categories, Occurrence };
const std::array<QByteArray, 8> kNames { "SUMMARY",     "STATUS",   "COMPLETED",  "DUE",
                                         "DESCRIPTION", "PRIORITY", "CATEGORIES", "RECURRENCE-ID" };

struct Seen
{
    const QByteArray *first = nullptr;
    int count = 0;
};

// Whether the first line of a property is the line written (none where written is empty), and
// it has no other line when count says so.
bool isWritten(const Seen &seen, const QByteArray &written, bool alone = false)
{
    if (written.isEmpty())
        return seen.count == 0;
    return seen.first && (!alone || seen.count == 1) && seen.first->size() + 2 == written.size()
           && written.startsWith(*seen.first) && written.endsWith("\r\n");
}

// Text libical writes escaped and reads back as it was: well-formed UTF-16 (UTF-8 on the way)
// without control characters, but for the line breaks that text escaping carries where allowed.
bool plainText(const QString &text, bool lineBreaks = false)
{
    if (!text.isValidUtf16())
        return false;
    return std::none_of(text.cbegin(), text.cend(), [lineBreaks](QChar c) {
        return c.category() == QChar::Other_Control && !(lineBreaks && c == u'\n');
    });
}

QByteArray summaryLine(const QString &name)
{
    const IcalPropertyPtr property(icalproperty_new_summary(name.toUtf8().constData()));
    const IcalStringPtr text(icalproperty_as_ical_string_r(property.get()));
    QByteArray line(text ? text.get() : "");
    line.replace("\r\n ", "").replace("\r\n\t", "");
    return line.endsWith("\r\n") ? line : line + "\r\n";
}

// The name as the reader cleans it, which it is already.
bool nameReadsBack(const QString &name)
{
    return !name.isEmpty() && name.size() <= IcalReader::maxNameLength && plainText(name)
           && name == name.simplified();
}

// A due time the writer writes in UTC, to the second, in a year of four digits.
bool dueReadsBack(const QDateTime &due)
{
    const int year = due.toUTC().date().year();
    return year >= 1 && year <= 9999 && due.time().msec() == 0;
}

// Whether a DUE line in a time zone (the only DUE) says the due time: read alone as the reader
// reads a VTODO's DUE, with the zones the reader has for the text (its own VTIMEZONEs, each
// defined in turn, then the system's).
bool zonedDueSays(const Seen &seen, const QDateTime &due, const QByteArray &calendar)
{
    if (seen.count != 1 || !seen.first->startsWith("DUE;"))
        return false;
    const IcalComponentPtr todo = parseIcal("BEGIN:VTODO\r\n" + *seen.first + "\r\nEND:VTODO\r\n");
    icalproperty *property =
            todo ? icalcomponent_get_first_property(todo.get(), ICAL_DUE_PROPERTY) : nullptr;
    if (!property || icalcomponent_count_errors(todo.get()) > 0
        || !icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER)
        || icalvalue_get_datetime(icalproperty_get_value(property)).is_date)
        return false;
    IcalZones zones;
    QString error;
    for (const IcalBlock &block : splitIcalCalendar(calendar, error)) {
        if (block.kind == "VTIMEZONE") // one that is not sound is left out, as by the reader
            zones.define(calendar.mid(block.begin, block.end - block.begin), error);
    }
    return icalDueValue(property, zones, nullptr, nullptr) == due;
}

// Tags that the CATEGORIES line carries as they are, separated by commas: the reader takes them
// apart again at the commas.
bool tagsReadBack(const QStringList &tags)
{
    for (const QString &tag : tags) {
        if (!plainText(tag) || tag.contains(u',') || tag.contains(u';') || tag.contains(u'\\'))
            return false;
    }
    return TaskDetails::parseTags(tags.join(u',')) == tags;
}

bool detailsReadBack(const TaskDetails &details, const std::array<Seen, 8> &seen)
{
    const int priority = IcalDetails::value(details);
    return plainText(details.notes, true)
           && isWritten(seen[Description], IcalDetails::descriptionLine(details.notes))
           && priority <= 9 && isWritten(seen[Priority], IcalDetails::priorityLine(details))
           && tagsReadBack(details.tags)
           && isWritten(seen[Categories], IcalDetails::categoriesLine(details.tags), true);
}

} // namespace

std::optional<IcalTask> IcalKept::sameAsTask(const IcalTask &task, const QByteArray &calendar,
                                             const QList<IcalNamedLine> &own)
{
    if (task.repeat)
        return std::nullopt;
    std::array<Seen, 8> seen;
    for (const IcalNamedLine &line : own) {
        const auto found = std::find(kNames.cbegin(), kNames.cend(), line.name);
        if (found == kNames.cend())
            continue;
        Seen &property = seen[found - kNames.cbegin()];
        if (property.count++ == 0)
            property.first = &line.text;
    }
    if (seen[Occurrence].count > 0 || !nameReadsBack(task.name)
        || !isWritten(seen[Summary], summaryLine(task.name)))
        return std::nullopt;
    // Done is a STATUS of COMPLETED; pending a STATUS of NEEDS-ACTION or none, and no COMPLETED.
    const bool doneSaid =
            task.done ? isWritten(seen[Status], "STATUS:COMPLETED\r\n")
                      : seen[Completed].count == 0
                                && (seen[Status].count == 0
                                    || isWritten(seen[Status], "STATUS:NEEDS-ACTION\r\n"));
    const bool dueSaid =
            task.due.isValid()
                    ? dueReadsBack(task.due)
                              && (isWritten(seen[Due], "DUE:" + icalUtcText(task.due) + "\r\n")
                                  || zonedDueSays(seen[Due], task.due, calendar))
                    : seen[Due].count == 0;
    if (!doneSaid || !dueSaid || (task.detailsKnown && !detailsReadBack(task.details, seen)))
        return std::nullopt;
    // The reader takes the text as a whole, and the task from its one VTODO.
    QString error;
    const QList<IcalBlock> blocks = splitIcalCalendar(calendar, error);
    if (!error.isEmpty()
        || std::count_if(blocks.cbegin(), blocks.cend(), [](const IcalBlock &block) {
               return block.kind == "VTODO";
           }) != 1)
        return std::nullopt;
    IcalTask kept;
    kept.setFields(task.fields());
    kept.details = task.details;
    kept.detailsKnown = task.detailsKnown;
    return kept;
}

std::optional<IcalTask> IcalKept::read(const IcalTask &task, const QList<IcalNamedLine> &own,
                                       QString &error)
{
    std::optional<IcalTask> kept = sameAsTask(task, task.calendar, own);
    if (kept)
        return kept;
    IcalReadResult read = IcalReader::read(task.calendar, IcalReader::Mode::Resource);
    error = read.error;
    if (error.isEmpty() && !read.tasks.isEmpty())
        kept = std::move(read.tasks.first());
    return kept;
}
