#include "icalreader.h"

#include "icalconvert.h"
#include "icaldetails.h"
#include "icalholder.h"
#include "icallines.h"
#include "icalreadparts.h"
#include "icalrepeat.h"
#include "icalzones.h"

#include <QHash>
#include <QLoggingCategory>
#include <QSet>
#include <QUuid>

Q_LOGGING_CATEGORY(lcIcalReader, "tarvik.ical.reader", QtCriticalMsg)

namespace {

const QByteArray kCalendarFooter = QByteArrayLiteral("END:VCALENDAR\r\n");

// The properties of a VTODO whose loss would change the task as the list shows it.
const QSet<QByteArray> kShownProperties { "SUMMARY", "DUE", "STATUS", "COMPLETED",
                                          "RECURRENCE-ID" };

// A task's text while the file is read: its VTODO, those of its occurrences, and their zones.
struct TaskText
{
    QByteArray todos;
    QSet<QByteArray> zones;
};

class Reader
{
public:
    Reader(const QByteArray &data, IcalReader::Mode mode, const IcalReader::Take *take = nullptr,
           qsizetype slice = 0)
        : m_data(data)
        , m_file(mode == IcalReader::Mode::File)
        , m_take(take)
        , m_slice(std::max<qsizetype>(slice, 1))
        // A task may be handed on at once when no occurrence of it can follow.
        , m_stream(take
                   && !QLatin1StringView(data).contains(QLatin1String("RECURRENCE-ID"),
                                                        Qt::CaseInsensitive))
    {
    }

    IcalReadResult read(const IcalReader::Progress &progress)
    {
        const QList<IcalBlock> blocks = splitIcalCalendar(m_data, m_result.error);
        if (!m_result.error.isEmpty())
            return fail();
        for (const IcalBlock &block : blocks) {
            if (block.kind != "VTIMEZONE" || defineZone(block))
                continue;
            qCWarning(lcIcalReader) << "time zone left out:" << m_result.error;
            if (m_file)
                noteUnreadable();
            m_result.error.clear(); // a due time in it reads as in an unknown zone
        }
        return m_file ? readFile(blocks, progress) : readResource(blocks);
    }

private:
    IcalReadResult fail(bool cancelled = false)
    {
        m_result.cancelled = cancelled;
        m_result.tasks.clear();
        qCWarning(lcIcalReader) << "cannot read the calendar:" << m_result.error;
        return m_result;
    }

    // The component the error is about is left out; the file is read on.
    void noteUnreadable()
    {
        if (m_result.unreadable++ == 0)
            m_result.firstUnreadable = m_result.error;
    }

    QByteArray blockText(const IcalBlock &block) const
    {
        return m_data.mid(block.begin, block.end - block.begin);
    }

    IcalReadResult readFile(const QList<IcalBlock> &blocks, const IcalReader::Progress &progress)
    {
        m_todosLeft = std::count_if(blocks.cbegin(), blocks.cend(),
                                    [](const IcalBlock &block) { return block.kind == "VTODO"; });
        QList<TaskText> texts;
        QList<std::pair<QByteArray, TaskText>> occurrences; // by UID
        qsizetype done = 0;
        for (const IcalBlock &block : blocks) {
            if (progress && ++done % 256 == 0 && !progress(done, blocks.size()))
                return fail(true);
            if (block.kind == "VTIMEZONE")
                continue;
            if (block.kind != "VTODO") {
                ++m_result.skipped;
                continue;
            }
            --m_todosLeft;
            const IcalComponentPtr todo = parseTodo(block);
            if (!todo) {
                noteUnreadable();
                m_result.error.clear();
                ++m_result.skipped;
                continue;
            }
            TaskText text { blockText(block), {} };
            icalCollectZones(todo.get(), text.zones);
            if (icalcomponent_get_first_property(todo.get(), ICAL_RECURRENCEID_PROPERTY)) {
                // Its task, if handed on already, is gone: the occurrence counts as alone.
                m_stream = false;
                const char *uid = icalcomponent_get_uid(todo.get());
                occurrences.append({ QByteArray(uid ? uid : "").trimmed(), std::move(text) });
            } else if (readTask(todo.get(), text.zones)) {
                texts.append(std::move(text));
                if (m_stream && texts.size() >= m_slice && !handOn(texts))
                    return fail(true);
            }
        }
        // An occurrence of a repeating task travels with its task; alone it is skipped.
        QHash<QByteArray, qsizetype> byUid;
        for (qsizetype i = 0; i < m_result.tasks.size(); ++i)
            byUid.insert(m_result.tasks.at(i).uid.toUtf8(), i);
        for (auto &[uid, text] : occurrences) {
            const qsizetype task = byUid.value(uid, -1);
            if (task < 0) {
                ++m_result.skipped;
                continue;
            }
            texts[task].todos += text.todos;
            texts[task].zones.unite(text.zones);
        }
        if (m_take)
            return handOn(texts) ? m_result : fail(true);
        for (qsizetype i = 0; i < texts.size(); ++i) {
            m_result.tasks[i].calendar = calendarText(texts.at(i));
            for (const QByteArray &tzid : texts.at(i).zones)
                m_result.zones.insert(tzid, m_zones.text(tzid));
        }
        return m_result;
    }

    // Hands the tasks read so far on, with their texts and zones, and forgets them.
    bool handOn(QList<TaskText> &texts)
    {
        for (qsizetype from = 0; from < texts.size(); from += m_slice) {
            IcalReadSlice slice;
            slice.todosLeft = m_todosLeft;
            for (qsizetype i = from; i < std::min(texts.size(), from + m_slice); ++i) {
                m_result.tasks[i].calendar = calendarText(texts.at(i));
                for (const QByteArray &tzid : texts.at(i).zones) {
                    slice.zones.insert(tzid, m_zones.text(tzid));
                    m_result.zones.insert(tzid, m_zones.text(tzid));
                }
                slice.tasks.append(std::move(m_result.tasks[i]));
            }
            if (!(*m_take)(std::move(slice)))
                return false;
        }
        texts.clear();
        m_result.tasks.clear();
        return true;
    }

    IcalReadResult readResource(const QList<IcalBlock> &blocks)
    {
        const IcalBlock *first = nullptr;
        IcalComponentPtr master;
        QSet<qint64> completed; // the occurrences other clients marked done, by RECURRENCE-ID
        for (const IcalBlock &block : blocks) {
            if (block.kind != "VTODO")
                continue;
            IcalComponentPtr todo = parseTodo(block);
            if (!todo)
                continue;
            if (!first)
                first = &block;
            if (!icalcomponent_get_first_property(todo.get(), ICAL_RECURRENCEID_PROPERTY)) {
                if (!master)
                    master = std::move(todo);
            } else if (icalcomponent_get_status(todo.get()) == ICAL_STATUS_COMPLETED
                       || icalcomponent_get_first_property(todo.get(), ICAL_COMPLETED_PROPERTY)) {
                const QDateTime id = readTime(todo.get(), ICAL_RECURRENCEID_PROPERTY);
                if (id.isValid())
                    completed.insert(id.toSecsSinceEpoch());
            }
        }
        if (master) {
            take(master.get());
            if (!m_result.tasks.isEmpty())
                skipCompletedOccurrences(m_result.tasks.last(), completed);
            return m_result;
        }
        // Occurrences without their task: the first stands for the task.
        if (first) {
            const IcalComponentPtr todo = parseTodo(*first);
            return take(todo.get());
        }
        ++m_result.skipped; // events and journals are not tasks
        return m_result;
    }

    IcalReadResult take(icalcomponent *todo)
    {
        m_result.error.clear(); // a VTODO before it that libical could not read at all
        QSet<QByteArray> zones;
        if (readTask(todo, zones))
            m_result.tasks.last().calendar = m_data;
        return m_result;
    }

    QByteArray calendarText(const TaskText &text) const
    {
        QByteArray calendar = icalCalendarHeader() + text.todos;
        if (!calendar.endsWith('\n'))
            calendar += "\r\n";
        return calendar + kCalendarFooter;
    }

    // A VTODO as libical reads it; null when libical cannot, or, in a file, when a property the
    // task list shows cannot be read.
    IcalComponentPtr parseTodo(const IcalBlock &block)
    {
        m_dueUnread = false;
        IcalComponentPtr todo = parseIcal(blockText(block));
        if (!todo) {
            m_result.error = icalLineError(block.firstLine, QStringLiteral("not valid iCalendar"));
            return todo;
        }
        if (icalcomponent_count_errors(todo.get()) == 0)
            return todo;
        QString message;
        const int line = unreadShownProperty(block, message);
        if (line == 0)
            return todo; // only properties the task list does not show are unread
        if (!m_file) {
            qCWarning(lcIcalReader) << "read without a property:" << icalLineError(line, message);
            return todo;
        }
        m_result.error = icalLineError(line, message);
        return {};
    }

    // The line of the first shown property libical could not read, with its words; 0: none.
    int unreadShownProperty(const IcalBlock &block, QString &message)
    {
        IcalLineReader reader(m_data, block.begin, block.end);
        IcalLine line;
        bool nul = false;
        int depth = 0;
        while (reader.next(line, nul)) {
            const QByteArray name = icalPropertyName(line, m_data);
            depth += name == "BEGIN" ? 1 : name == "END" ? -1 : 0;
            if (depth != 1 || !kShownProperties.contains(name)
                || icalLineValue(icalUnfoldedLine(line, m_data)).trimmed().isEmpty()
                || (name == "DUE" && m_dueUnread))
                continue; // an empty value (libical refuses it) holds nothing to lose
            const IcalComponentPtr alone =
                    parseIcal("BEGIN:VTODO\r\n" + m_data.mid(line.begin, line.end - line.begin)
                              + "\r\nEND:VTODO\r\n");
            if (!alone
                || !icalcomponent_get_first_property(alone.get(),
                                                     icalproperty_string_to_kind(name.data()))) {
                if (name == "DUE" && m_file) {
                    m_dueUnread = true; // the task comes without a due time, and says so
                    continue;
                }
                message = alone ? icalComponentMessage(alone.get()) : QStringLiteral("not valid");
                return block.firstLine + line.number - 1;
            }
        }
        return 0;
    }

    bool defineZone(const IcalBlock &block)
    {
        QString error;
        if (m_zones.define(blockText(block), error))
            return true;
        m_result.error = icalLineError(block.firstLine, error);
        return false;
    }

    QDateTime readDue(icalcomponent *todo)
    {
        icalproperty *property = icalcomponent_get_first_property(todo, ICAL_DUE_PROPERTY);
        if (!property) {
            if (m_dueUnread)
                ++m_result.dueDropped;
            return {};
        }
        const QDateTime due = readDueValue(property);
        if (!due.isValid())
            ++m_result.dueDropped;
        return due;
    }

    // Another date-time of the VTODO (DTSTART, RECURRENCE-ID) as a due time reads, uncounted.
    QDateTime readTime(icalcomponent *todo, icalproperty_kind kind)
    {
        icalproperty *property = icalcomponent_get_first_property(todo, kind);
        return property ? readDueValue(property, false) : QDateTime();
    }

    QDateTime readDueValue(icalproperty *property, bool counted = true)
    {
        icaltimetype due = icalvalue_get_datetime(icalproperty_get_value(property));
        if (due.is_date) {
            const QDate date(due.year, due.month, due.day);
            if (!date.isValid() || due.year <= 0)
                return {};
            m_result.dateOnly += counted ? 1 : 0;
            return QDateTime(date, QTime(23, 59));
        }
        if (due.year <= 0)
            return {}; // before the calendar's first year
        if (icaltime_is_utc(due))
            return icalFieldsToDateTime(due, true);
        icalparameter *parameter = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
        if (!parameter)
            return icalFieldsToDateTime(due, false); // floating: the reader's time
        icaltimezone *zone = m_zones.named(QByteArray(icalparameter_get_tzid(parameter)));
        if (!zone) {
            m_result.unknownZones += counted ? 1 : 0;
            return icalFieldsToDateTime(due, false);
        }
        return icalFieldsToDateTime(icalZonedToUtc(due, zone), true);
    }

    // Adds the task a VTODO holds; false when it holds none the task list can keep.
    bool readTask(icalcomponent *todo, QSet<QByteArray> &zones)
    {
        IcalTask task;
        task.name = icalCleanName(icalcomponent_get_summary(todo));
        if (task.name.isEmpty()) {
            ++m_result.skipped;
            return false;
        }
        if (task.name.size() > IcalReader::maxNameLength) {
            task.name.truncate(IcalReader::maxNameLength);
            ++m_result.shortened;
        }
        const char *uid = icalcomponent_get_uid(todo);
        task.uid = QString::fromUtf8(uid ? uid : "").trimmed();
        if (task.uid.isEmpty())
            task.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        // A cancelled task is not pending either: nobody is to be reminded of it.
        const icalproperty_status status = icalcomponent_get_status(todo);
        task.done = status == ICAL_STATUS_COMPLETED || status == ICAL_STATUS_CANCELLED
                    || icalcomponent_get_first_property(todo, ICAL_COMPLETED_PROPERTY);
        task.due = readDue(todo);
        task.created = icalPropertyTime(todo, ICAL_CREATED_PROPERTY);
        task.lastModified = icalPropertyTime(todo, ICAL_LASTMODIFIED_PROPERTY);
        task.stamp = icalPropertyTime(todo, ICAL_DTSTAMP_PROPERTY);
        task.start = readTime(todo, ICAL_DTSTART_PROPERTY);
        task.repeat = icalRepeatOf(todo);
        task.details = IcalDetails::read(todo);
        task.detailsKnown = true;
        icalCollectZones(todo, zones);
        m_result.tasks.append(std::move(task));
        return true;
    }

    const QByteArray &m_data;
    const bool m_file;
    const IcalReader::Take *m_take = nullptr; // where a file's tasks go as they are read
    const qsizetype m_slice;
    bool m_stream = false; // tasks are handed on as soon as a slice is read
    qsizetype m_todosLeft = 0;
    IcalReadResult m_result;
    IcalZones m_zones;
    bool m_dueUnread = false; // the VTODO parsed last has a DUE libical cannot read
};

} // namespace

IcalReadResult IcalReader::read(const QByteArray &data, Mode mode, const Progress &progress)
{
    return Reader(data, mode).read(progress);
}

IcalReadResult IcalReader::readInSlices(const QByteArray &data, qsizetype slice, const Take &take,
                                        const Progress &progress)
{
    return Reader(data, Mode::File, &take, slice).read(progress);
}
