#include "icalreader.h"

#include "icalconvert.h"
#include "icaldetails.h"
#include "icalholder.h"
#include "icallines.h"
#include "icalpieces.h"
#include "icalreadparts.h"
#include "icalrepeat.h"
#include "icalzones.h"
#include "importtexts.h"

#include <QBuffer>
#include <QHash>
#include <QLoggingCategory>
#include <QSet>
#include <QUuid>

Q_LOGGING_CATEGORY(lcIcalReader, "tarvik.ical.reader", QtCriticalMsg)

namespace {

const QByteArray kCalendarFooter = QByteArrayLiteral("END:VCALENDAR\r\n");

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
    {
    }

    // A resource: the text is held whole.
    IcalReadResult read()
    {
        const QList<IcalBlock> blocks = splitIcalCalendar(m_data, m_result.error);
        if (!m_result.error.isEmpty())
            return fail();
        for (const IcalBlock &block : blocks) {
            if (block.kind == "VTIMEZONE")
                defineZone(blockText(block), block.firstLine);
        }
        return readResource(blocks);
    }

    // A file in two passes over its text, a piece at a time (data is the text of the piece
    // being read): the first checks that it is iCalendar as a whole, counts its tasks and
    // defines its zones, wherever in it they are; the second reads its tasks.
    IcalReadResult readPieces(IcalPieces &pieces, const IcalReader::Progress &progress)
    {
        IcalPieces::Survey survey;
        if (!pieces.survey(survey, [&progress] { return !progress || progress(0, 1); }))
            return pieces.error().isEmpty() ? fail(true) : failWith(pieces.error());
        const bool recode = !pieces.validUtf8();
        for (const auto &[text, line] : std::as_const(survey.zones))
            defineZone(recode ? ImportTexts::asUtf8(text, nullptr) : text, line);
        // A task may be handed on at once when no occurrence of it can follow.
        m_stream = m_take && !survey.occurrences;
        m_todos = m_todosLeft = survey.todos;
        FileTexts texts;
        if (!pieces.restart(recode))
            return failWith(pieces.error());
        QList<IcalBlock> blocks;
        while (pieces.next(blocks)) {
            for (const IcalBlock &block : std::as_const(blocks)) {
                if (!readFileBlock(block, texts, progress))
                    return fail(true);
            }
        }
        if (!pieces.error().isEmpty() || m_todosLeft != 0)
            return failWith(pieces.error().isEmpty()
                                    ? QStringLiteral("the file changed while it was read")
                                    : pieces.error());
        m_result.recoded = pieces.recoded();
        return finishFile(texts);
    }

private:
    IcalReadResult failWith(const QString &error)
    {
        m_result.error = error;
        return fail();
    }

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

    static bool isTodo(const IcalBlock &block) { return block.kind == "VTODO"; }

    // The tasks of a file read so far, with their texts, and the occurrences (by UID) that
    // travel with theirs.
    struct FileTexts
    {
        QList<TaskText> tasks;
        QList<std::pair<QByteArray, TaskText>> occurrences;
    };

    // Reads a component of a file; false when the reading is to stop.
    bool readFileBlock(const IcalBlock &block, FileTexts &texts,
                       const IcalReader::Progress &progress)
    {
        if (!isTodo(block)) {
            m_result.skipped += block.kind == "VTIMEZONE" ? 0 : 1;
            return true;
        }
        const qsizetype done = m_todos - --m_todosLeft;
        if (progress && done % 256 == 0 && !progress(done, m_todos))
            return false;
        const IcalComponentPtr todo = parseTodo(block);
        if (!todo) {
            noteUnreadable();
            m_result.error.clear();
            ++m_result.skipped;
            return true;
        }
        TaskText text { blockText(block), {} };
        icalCollectZones(todo.get(), text.zones);
        if (icalcomponent_get_first_property(todo.get(), ICAL_RECURRENCEID_PROPERTY)) {
            // Its task, if handed on already, is gone: the occurrence counts as alone.
            m_stream = false;
            const char *uid = icalcomponent_get_uid(todo.get());
            texts.occurrences.append({ QByteArray(uid ? uid : "").trimmed(), std::move(text) });
        } else if (readTask(todo.get(), text.zones)) {
            texts.tasks.append(std::move(text));
            if (m_stream && texts.tasks.size() >= m_slice)
                return handOn(texts.tasks);
        }
        return true;
    }

    IcalReadResult finishFile(FileTexts &files)
    {
        QList<TaskText> &texts = files.tasks;
        // An occurrence of a repeating task travels with its task; alone it is skipped.
        QHash<QByteArray, qsizetype> byUid;
        for (qsizetype i = 0; i < m_result.tasks.size(); ++i)
            byUid.insert(m_result.tasks.at(i).uid.toUtf8(), i);
        for (auto &[uid, text] : files.occurrences) {
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
        const int line = icalUnreadShownProperty(m_data, block, m_file, m_dueUnread, message);
        if (line == 0)
            return todo; // only properties the task list does not show are unread
        if (!m_file) {
            qCWarning(lcIcalReader) << "read without a property:" << icalLineError(line, message);
            return todo;
        }
        m_result.error = icalLineError(line, message);
        return {};
    }

    // A zone that is not sound is left out: a due time in it reads as in an unknown zone.
    void defineZone(const QByteArray &text, int line)
    {
        QString error;
        if (m_zones.define(text, error))
            return;
        qCWarning(lcIcalReader) << "time zone left out:" << icalLineError(line, error);
        if (m_file && m_result.unreadable++ == 0)
            m_result.firstUnreadable = icalLineError(line, error);
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
        return icalDueValue(property, m_zones, counted ? &m_result.dateOnly : nullptr,
                            counted ? &m_result.unknownZones : nullptr);
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
    qsizetype m_todos = 0; // VTODOs in the file
    qsizetype m_todosLeft = 0; // of them not read yet
    IcalReadResult m_result;
    IcalZones m_zones;
    bool m_dueUnread = false; // the VTODO parsed last has a DUE libical cannot read
};

} // namespace

IcalReadResult IcalReader::read(const QByteArray &data, Mode mode, const Progress &progress)
{
    if (mode == Mode::Resource)
        return Reader(data, mode).read();
    // A whole file is read as one in pieces, its tasks kept.
    QBuffer file;
    file.setData(data);
    file.open(QIODevice::ReadOnly);
    IcalPieces pieces(&file);
    return Reader(pieces.text(), mode).readPieces(pieces, progress);
}

IcalReadResult IcalReader::readInSlices(QIODevice *file, qsizetype slice, const Take &take,
                                        const Progress &progress)
{
    IcalPieces pieces(file);
    return Reader(pieces.text(), Mode::File, &take, slice).readPieces(pieces, progress);
}
