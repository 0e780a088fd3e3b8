#include "icalwriter.h"

#include "icalalarm.h"
#include "icalconvert.h"
#include "icaldetails.h"
#include "icaledits.h"
#include "icalholder.h"
#include "icalkept.h"
#include "icallines.h"
#include "icalrepeat.h"
#include "icalzonetext.h"

#include <QHash>
#include <QLoggingCategory>
#include <QSet>

#include <algorithm>
#include <optional>

Q_LOGGING_CATEGORY(lcIcalWriter, "tarvik.ical.writer", QtCriticalMsg)

namespace {

const QByteArray kFooter = QByteArrayLiteral("END:VCALENDAR\r\n");

using Line = IcalNamedLine;

// A component of a calendar: its kind, the TZID of a VTIMEZONE, and its lines unfolded, each
// ended by CR LF.
struct Component
{
    QByteArray kind;
    QByteArray tzid;
    QByteArray text;
};

// A calendar as written: its own properties other than VERSION and PRODID, and its components.
struct Calendar
{
    QByteArray properties;
    QList<Component> components;
};

QByteArray joined(const QList<Line> &lines)
{
    QByteArray text;
    for (const Line &line : lines)
        text += line.text + "\r\n";
    return text;
}

// The lines directly inside a component (not inside its alarms), in order, with their names.
QList<Line> ownOf(const QList<Line> &lines)
{
    QList<Line> own;
    int depth = 0;
    for (const Line &line : lines) {
        depth += line.name == "BEGIN" ? 1 : line.name == "END" ? -1 : 0;
        if (depth == 1 && line.name != "BEGIN")
            own.append(line);
    }
    return own;
}

// The first line of each property name of a component's own lines.
QHash<QByteArray, QByteArray> ownLines(const QList<Line> &lines)
{
    QHash<QByteArray, QByteArray> own;
    for (auto line = lines.crbegin(); line != lines.crend(); ++line)
        own.insert(line->name, line->text); // the first of a name last
    return own;
}

QByteArray trimmedValue(const QByteArray &line)
{
    return icalLineValue(line).trimmed().toUpper();
}

// A line libical writes for a property (escaped as its value type needs), unfolded.
QByteArray propertyLine(icalproperty *property)
{
    const IcalPropertyPtr holder(property);
    const IcalStringPtr text(icalproperty_as_ical_string_r(property));
    QByteArray line(text ? text.get() : "");
    line.replace("\r\n ", "").replace("\r\n\t", "");
    return line.endsWith("\r\n") ? line : line + "\r\n";
}

QByteArray timeLine(const char *name, const QDateTime &time)
{
    return name + (':' + icalUtcText(time)) + "\r\n";
}

// The DUE line of a due time; a due date without a time stays one when the task's due time is
// still the end of a day (only then is the local time made: the C library asks the disk for it).
QByteArray dueLine(const QDateTime &due, bool dateOnly)
{
    const QDateTime local = dateOnly ? due.toLocalTime() : QDateTime();
    if (dateOnly && local.time() == QTime(23, 59))
        return "DUE;VALUE=DATE:" + local.date().toString(QStringLiteral("yyyyMMdd")).toLatin1()
               + "\r\n";
    return timeLine("DUE", due);
}

// Control characters other than the line break escaping carries have no place in a text value.
bool isControl(QChar c)
{
    return c.category() == QChar::Other_Control && c != u'\n';
}

bool hasControl(const QByteArray &line)
{
    return std::any_of(line.begin(), line.end(),
                       [](char c) { return uchar(c) < 0x20 ? c != '\t' : c == 0x7F; });
}

QByteArray summaryLine(QString name)
{
    name.removeIf(isControl);
    return propertyLine(icalproperty_new_summary(name.toUtf8().constData()));
}

QByteArray statusLine(bool done)
{
    return done ? "STATUS:COMPLETED\r\n" : "STATUS:NEEDS-ACTION\r\n";
}

// The VTODO of a task that has no kept text.
QByteArray newTodo(const IcalTask &task, const QDateTime &stamp)
{
    QByteArray text = "BEGIN:VTODO\r\n";
    text += propertyLine(icalproperty_new_uid(task.uid.toUtf8().constData()));
    text += timeLine("DTSTAMP", stamp);
    if (task.created.isValid())
        text += timeLine("CREATED", task.created);
    text += timeLine("LAST-MODIFIED", stamp);
    text += summaryLine(task.name);
    text += statusLine(task.done);
    if (task.done)
        text += timeLine("COMPLETED", stamp);
    // A repeating task's DUE is in its zone where a VTIMEZONE can say it.
    QByteArray due = task.due.isValid() ? timeLine("DUE", task.due) : QByteArray();
    QByteArray repeat;
    for (const auto &[name, line] : icalRepeatEdits({}, task, IcalTask())) {
        if (name == "DUE")
            due = line;
        else
            repeat += line;
    }
    text += due + repeat;
    if (task.detailsKnown) {
        text += IcalDetails::descriptionLine(task.details.notes);
        text += IcalDetails::priorityLine(task.details);
        text += IcalDetails::categoriesLine(task.details.tags);
    }
    return IcalAlarm::patched(text + "END:VTODO\r\n", task);
}

// The notes, priority and tags that differ from what the kept VTODO says; notes edited here
// take the HTML copy (X-ALT-DESC) other programs keep with them, which would be stale.
bool setDetails(IcalEdits &edits, const IcalTask &task, const std::optional<IcalTask> &kept)
{
    if (!task.detailsKnown)
        return false;
    const TaskDetails before = kept ? kept->details : TaskDetails();
    const TaskDetails &now = task.details;
    bool changed = false;
    if (!kept || before.notes != now.notes) {
        edits.set("DESCRIPTION", IcalDetails::descriptionLine(now.notes));
        edits.set("X-ALT-DESC", {});
        changed = true;
    }
    if (!kept || IcalDetails::value(before) != IcalDetails::value(now)) {
        edits.set("PRIORITY", IcalDetails::priorityLine(now));
        changed = true;
    }
    if (!kept || before.tags != now.tags) {
        edits.set("CATEGORIES", IcalDetails::categoriesLine(now.tags));
        changed = true;
    }
    return changed;
}

// The edits that make a kept VTODO say what the task says; kept is what it says now, unknown
// when it says no task the list could show.
IcalEdits editsFor(const QHash<QByteArray, QByteArray> &own, const IcalTask &task,
                   const std::optional<IcalTask> &keptTask, const QDateTime &stamp)
{
    const std::optional<TaskFields> kept =
            keptTask ? std::optional(keptTask->fields()) : std::nullopt;
    const bool name = !kept || kept->name != task.name || hasControl(own.value("SUMMARY"));
    const bool done = !kept || kept->done != task.done;
    const bool due = !kept || kept->due.isValid() != task.due.isValid()
                     || (task.due.isValid() && kept->due != task.due);
    IcalEdits edits;
    if (!own.contains("UID"))
        edits.set("UID", propertyLine(icalproperty_new_uid(task.uid.toUtf8().constData())));
    edits.set("DTSTAMP", timeLine("DTSTAMP", stamp));
    const bool details = setDetails(edits, task, keptTask);
    if (name || done || due || details)
        edits.set("LAST-MODIFIED", timeLine("LAST-MODIFIED", stamp));
    if (name)
        edits.set("SUMMARY", summaryLine(task.name));
    const QByteArray percent = trimmedValue(own.value("PERCENT-COMPLETE"));
    if (done && task.done) {
        edits.set("STATUS", statusLine(true));
        edits.set("COMPLETED", timeLine("COMPLETED", stamp));
        if (own.contains("PERCENT-COMPLETE"))
            edits.set("PERCENT-COMPLETE", "PERCENT-COMPLETE:100\r\n");
    } else if (done) {
        // A pending status (IN-PROCESS) is the other program's; a task taken out of Done, or
        // out of CANCELLED, needs action again.
        const QByteArray status = trimmedValue(own.value("STATUS"));
        if (status == "COMPLETED" || status == "CANCELLED")
            edits.set("STATUS", statusLine(false));
        edits.set("COMPLETED", {});
        if (percent == "100")
            edits.set("PERCENT-COMPLETE", "PERCENT-COMPLETE:0\r\n");
    }
    if (due) {
        const QByteArray oldDue = own.value("DUE");
        const QByteArray parameters =
                oldDue.left(oldDue.size() - icalLineValue(oldDue).size()).toUpper();
        const bool dateOnly =
                parameters.contains(";VALUE=DATE:") || parameters.contains(";VALUE=DATE;");
        edits.set("DUE", task.due.isValid() ? dueLine(task.due, dateOnly) : QByteArray());
        edits.set("DURATION", {}); // DUE and DURATION exclude each other
    }
    if (keptTask) {
        for (const auto &[name, lines] : icalRepeatEdits(own, task, *keptTask))
            edits.set(name, lines);
    }
    return edits;
}

// A kept VTODO with its owned properties rewritten in place; a property it lacks comes before
// its first alarm.
QByteArray patchedTodo(const QList<Line> &lines, IcalEdits &edits)
{
    QByteArray text;
    int depth = 0;
    for (const Line &line : lines) {
        const bool begin = line.name == "BEGIN";
        const bool end = line.name == "END";
        if (depth == 1 && (begin || end))
            text += edits.rest();
        depth += begin ? 1 : end ? -1 : 0;
        if (depth == 1 && !begin && edits.contains(line.name))
            text += edits.take(line.name);
        else
            text += line.text + "\r\n";
    }
    return text;
}

// The calendar of a task with kept text; none when the text holds nothing to write back.
std::optional<Calendar> keptCalendar(const IcalTask &task, const QDateTime &stamp)
{
    const QByteArray &data = task.calendar;
    Calendar calendar;
    QList<QList<Line>> components;
    IcalLineReader reader(data, data.startsWith("\xEF\xBB\xBF") ? 3 : 0);
    IcalLine line;
    bool nul = false;
    int depth = 0;
    while (reader.next(line, nul)) {
        const QByteArray name = icalPropertyName(line, data);
        if (name.isEmpty() || name == "X-LIC-ERROR")
            continue; // libical's words about a line it could not read are not the line
        if (name == "BEGIN" && ++depth == 2)
            components.append(QList<Line>());
        if (depth >= 2)
            components.last().append(Line { name, icalUnfoldedLine(line, data) });
        else if (depth == 1 && name != "BEGIN" && name != "END" && name != "VERSION"
                 && name != "PRODID")
            calendar.properties += icalUnfoldedLine(line, data) + "\r\n";
        if (name == "END")
            --depth;
    }
    // The task is the first VTODO that is not an occurrence, as the reader takes it.
    qsizetype master = -1;
    QList<Line> own; // the master's own lines
    for (qsizetype i = 0; i < components.size(); ++i) {
        if (trimmedValue(components.at(i).first().text) != "VTODO")
            continue;
        QList<Line> lines = ownOf(components.at(i));
        const bool occurrence = std::any_of(lines.cbegin(), lines.cend(), [](const auto &line) {
            return line.name == "RECURRENCE-ID";
        });
        if (master < 0 || !occurrence) {
            master = i;
            own = std::move(lines);
        }
        if (!occurrence)
            break; // else an occurrence stands for a task the text does not hold
    }
    if (master < 0)
        return std::nullopt;
    QString error;
    const std::optional<IcalTask> kept = IcalKept::read(task, own, error);
    if (!error.isEmpty()) {
        qCWarning(lcIcalWriter) << "kept text unreadable, written anew:" << error;
        return std::nullopt;
    }
    for (qsizetype i = 0; i < components.size(); ++i) {
        const QList<Line> &lines = components.at(i);
        Component component { trimmedValue(lines.first().text), {}, {} };
        if (component.kind == "VTIMEZONE")
            component.tzid = icalLineValue(ownLines(ownOf(lines)).value("TZID")).trimmed();
        if (i == master) {
            IcalEdits edits = editsFor(ownLines(own), task, kept, stamp);
            component.text = IcalAlarm::patched(patchedTodo(lines, edits), task);
        } else {
            component.text = joined(lines);
        }
        calendar.components.append(std::move(component));
    }
    return calendar;
}

// A VTIMEZONE for each zone a time of the task's VTODO came to name (written, not kept) that the
// calendar does not define.
void defineWrittenZones(Calendar &calendar, const QByteArray &kept, const QDateTime &due)
{
    QSet<QByteArray> defined;
    qsizetype todo = -1;
    for (qsizetype i = 0; i < calendar.components.size(); ++i) {
        if (calendar.components.at(i).kind == "VTIMEZONE")
            defined.insert(calendar.components.at(i).tzid);
        else if (todo < 0 && calendar.components.at(i).kind == "VTODO")
            todo = i;
    }
    if (todo < 0)
        return;
    const int year = due.isValid() ? due.date().year() : QDate::currentDate().year();
    for (const QByteArray &line : calendar.components.at(todo).text.split('\n')) {
        if (!line.startsWith("DUE;") && !line.startsWith("DTSTART;"))
            continue;
        const QByteArray tzid = icalLineZone(line.trimmed());
        if (tzid.isEmpty() || defined.contains(tzid) || kept.contains(";TZID=" + tzid))
            continue;
        const QByteArray definition = icalZoneDefinition(tzid, year);
        if (!definition.isEmpty())
            calendar.components.prepend(Component { "VTIMEZONE", tzid, definition });
        defined.insert(tzid);
    }
}

Calendar calendarOf(const IcalTask &task, const QDateTime &stamp)
{
    std::optional<Calendar> kept;
    if (!task.calendar.isEmpty())
        kept = keptCalendar(task, stamp);
    Calendar calendar =
            kept ? *kept : Calendar { {}, { Component { "VTODO", {}, newTodo(task, stamp) } } };
    defineWrittenZones(calendar, kept ? task.calendar : QByteArray(), task.due);
    return calendar;
}

} // namespace

QByteArray IcalWriter::write(const QList<IcalTask> &tasks, const QDateTime &stamp)
{
    QByteArray zones;
    QByteArray todos;
    QSet<QByteArray> written;
    for (const IcalTask &task : tasks) {
        const Calendar calendar = calendarOf(task, stamp);
        for (const Component &component : calendar.components) {
            if (component.kind != "VTIMEZONE")
                todos += component.text;
            else if (!written.contains(component.tzid)) {
                written.insert(component.tzid);
                zones += component.text;
            }
        }
    }
    return foldIcalLines(icalCalendarHeader() + zones + todos + kFooter);
}

QList<IcalWriter::Piece> IcalWriter::pieces(const IcalTask &task, const QDateTime &stamp)
{
    const Calendar calendar = calendarOf(task, stamp);
    QList<Piece> pieces;
    for (const Component &component : calendar.components) {
        const bool zone = component.kind == "VTIMEZONE";
        pieces.append({ zone, zone ? component.tzid : QByteArray(), component.text });
    }
    return pieces;
}

QByteArray IcalWriter::writeTask(const IcalTask &task, const QDateTime &stamp)
{
    const Calendar calendar = calendarOf(task, stamp);
    QByteArray text = icalCalendarHeader() + calendar.properties;
    for (const Component &component : calendar.components)
        text += component.text;
    return foldIcalLines(text + kFooter);
}
