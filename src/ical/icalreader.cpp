#include "icalreader.h"

#include "icalconvert.h"
#include "icalholder.h"

#include <QLoggingCategory>
#include <QSet>
#include <QTimeZone>
#include <QUuid>

#include <cstring>
#include <map>
#include <vector>

Q_LOGGING_CATEGORY(lcIcalReader, "tarvik.ical.reader", QtCriticalMsg)

namespace {

// Deeper nesting than any calendar program writes is taken as a broken or hostile file.
constexpr int kMaxDepth = 8;
// Calendar programs write a few time zones to a file, each with a few yearly rules; libical
// expands every rule of a zone it converts with, so a file beyond these limits could keep it
// busy for hours.
constexpr int kMaxZones = 100;
constexpr int kMaxZoneRules = 16;
constexpr int kMaxOnsetsInFourYears = 8;
// The longest message of libical's shown, in characters.
constexpr qsizetype kMaxMessage = 160;
// BEGIN and END values are short; the rest of a long line is not needed to see its structure.
constexpr qsizetype kLineHead = 256;

const QByteArray kCalendarHeader = QByteArrayLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
                                                     "PRODID:-//Brellhaven//Tarvik//EN\r\n");
const QByteArray kCalendarFooter = QByteArrayLiteral("END:VCALENDAR\r\n");

QString lineError(int line, const QString &what)
{
    return QStringLiteral("line %1: %2").arg(line).arg(what);
}

// A content line, unfolded, with the number of the physical line it starts on.
struct LogicalLine
{
    int number = 0;
    qsizetype begin = 0; // offset of its first octet
    qsizetype end = 0; // offset after its last line break
    QByteArray head; // the first octets, unfolded
};

// A component directly inside a VCALENDAR, and where its text lies.
struct Block
{
    QByteArray kind;
    int firstLine = 0;
    qsizetype begin = 0;
    qsizetype end = 0;
};

// Walks the logical lines of a text.
class LineReader
{
public:
    explicit LineReader(const QByteArray &data, qsizetype from = 0, qsizetype to = -1)
        : m_data(data)
        , m_position(from)
        , m_end(to < 0 ? data.size() : to)
    {
    }

    int physicalLines() const { return m_line; }

    // The next logical line; false at the end. nul is set when the line holds a NUL octet.
    bool next(LogicalLine &line, bool &nul)
    {
        if (m_position >= m_end)
            return false;
        line.number = m_line + 1;
        line.begin = m_position;
        line.head.clear();
        nul = false;
        bool first = true;
        do {
            const char *start = m_data.constData() + m_position;
            const auto *newline =
                    static_cast<const char *>(std::memchr(start, '\n', m_end - m_position));
            qsizetype length = newline ? newline - start : m_end - m_position;
            m_position += length + (newline ? 1 : 0);
            ++m_line;
            if (length > 0 && start[length - 1] == '\r')
                --length;
            nul = nul || std::memchr(start, '\0', length) != nullptr;
            const qsizetype skip = first ? 0 : 1;
            const qsizetype room = kLineHead - line.head.size();
            if (room > 0 && length > skip)
                line.head.append(start + skip, std::min(room, length - skip));
            first = false;
        } while (m_position < m_end
                 && (m_data.at(m_position) == ' ' || m_data.at(m_position) == '\t'));
        line.end = m_position;
        return true;
    }

private:
    const QByteArray &m_data;
    qsizetype m_position = 0;
    qsizetype m_end = 0;
    int m_line = 0;
};

bool isNameOctet(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// The property name of a content line in upper case; empty when the line is not one.
QByteArray propertyName(const LogicalLine &line, const QByteArray &data)
{
    qsizetype length = 0;
    while (length < line.head.size() && isNameOctet(line.head.at(length)))
        ++length;
    if (length == 0 || length == line.head.size()
        || (line.head.at(length) != ':' && line.head.at(length) != ';'))
        return {};
    const auto *colon = std::memchr(data.constData() + line.begin, ':', line.end - line.begin);
    return colon ? line.head.left(length).toUpper() : QByteArray();
}

// Splits a calendar into its components, checking that every line is a content line and that
// every BEGIN has its END; the components of several VCALENDARs come one after the other.
QList<Block> splitCalendar(const QByteArray &data, QString &error)
{
    QList<Block> blocks;
    struct Open
    {
        QByteArray kind;
        int line;
    };
    std::vector<Open> open;
    Block block;
    bool seenCalendar = false;
    const qsizetype bom = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    LineReader reader(data, bom);
    LogicalLine line;
    bool nul = false;
    while (reader.next(line, nul)) {
        if (line.head.trimmed().isEmpty() && !nul)
            continue;
        const QByteArray name = propertyName(line, data);
        if (nul && seenCalendar) {
            error = lineError(line.number, QStringLiteral("contains a NUL character"));
            return {};
        }
        if (!seenCalendar && (name != "BEGIN" || nul)) {
            error = lineError(line.number,
                              QStringLiteral("not an iCalendar file (BEGIN:VCALENDAR expected)"));
            return {};
        }
        if (name.isEmpty()) {
            const bool cut = line.end == data.size() && !data.endsWith('\n');
            error = lineError(line.number,
                              cut ? QStringLiteral("the file ends inside this line; it may be cut "
                                                   "short")
                                  : QStringLiteral("not an iCalendar line (NAME:value expected)"));
            return {};
        }
        const QByteArray value = line.head.mid(line.head.indexOf(':') + 1).trimmed().toUpper();
        if (name == "BEGIN") {
            if (open.empty() && value != "VCALENDAR") {
                error = lineError(line.number, QStringLiteral("BEGIN:VCALENDAR expected"));
                return {};
            }
            if (open.size() >= size_t(kMaxDepth)) {
                error = lineError(line.number, QStringLiteral("components nested too deeply"));
                return {};
            }
            if (open.size() == 1)
                block = Block { value, line.number, line.begin, 0 };
            open.push_back({ value, line.number });
            seenCalendar = true;
        } else if (name == "END") {
            if (open.empty() || open.back().kind != value) {
                error = open.empty()
                                ? lineError(line.number, QStringLiteral("END:%1 without BEGIN")
                                                                 .arg(QString::fromUtf8(value)))
                                : lineError(line.number,
                                            QStringLiteral("END:%1 expected (BEGIN on line %2)")
                                                    .arg(QString::fromUtf8(open.back().kind))
                                                    .arg(open.back().line));
                return {};
            }
            open.pop_back();
            if (open.size() == 1) {
                block.end = line.end;
                blocks.append(block);
            }
        } else if (open.empty()) {
            error = lineError(line.number, QStringLiteral("text after END:VCALENDAR"));
            return {};
        }
    }
    if (!seenCalendar) {
        error = lineError(1, QStringLiteral("not an iCalendar file (the file is empty)"));
        return {};
    }
    if (!open.empty()) {
        error = lineError(reader.physicalLines(),
                          QStringLiteral("the file ends before END:%1 (BEGIN on line %2); "
                                         "it may be cut short")
                                  .arg(QString::fromUtf8(open.back().kind))
                                  .arg(open.back().line));
        return {};
    }
    return blocks;
}

// The line of a component's text that libical could not read: the first one that does not
// parse as a property on its own.
int firstBadLine(const QByteArray &data, const Block &block)
{
    LineReader reader(data, block.begin, block.end);
    LogicalLine line;
    bool nul = false;
    while (reader.next(line, nul)) {
        const QByteArray name = propertyName(line, data);
        if (name == "BEGIN" || name == "END")
            continue;
        const IcalComponentPtr alone =
                parseIcal("BEGIN:X-LINE\r\n" + data.mid(line.begin, line.end - line.begin)
                          + "\r\nEND:X-LINE\r\n");
        if (!alone || icalcomponent_count_errors(alone.get()) > 0)
            return block.firstLine + line.number - 1;
    }
    return block.firstLine;
}

// The text of the first X-LIC-ERROR libical left in a component.
QString libicalMessage(icalcomponent *component)
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
            return libicalMessage(inner);
    }
    return QStringLiteral("not valid iCalendar");
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

// A time zone defined in the file, and its text.
struct DefinedZone
{
    IcalTimezonePtr zone;
    QByteArray text;
};

// The name as the task list shows it: one line, without control characters.
QString cleanName(const char *summary)
{
    QString name = QString::fromUtf8(summary ? summary : "");
    for (QChar &c : name) {
        if (c == u'\n' || c == u'\r' || c == u'\t')
            c = u' ';
    }
    name.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return name.simplified();
}

class Reader
{
public:
    explicit Reader(const QByteArray &data)
        : m_data(data)
    {
    }

    IcalReadResult read()
    {
        const QList<Block> blocks = splitCalendar(m_data, m_result.error);
        if (!m_result.error.isEmpty())
            return m_result;
        for (const Block &block : blocks) {
            if (block.kind == "VTIMEZONE" && !defineZone(block))
                return fail();
        }
        for (const Block &block : blocks) {
            if (block.kind == "VTIMEZONE")
                continue;
            if (block.kind != "VTODO") {
                ++m_result.skipped;
                continue;
            }
            if (!readTask(block))
                return fail();
        }
        return m_result;
    }

private:
    IcalReadResult fail()
    {
        m_result.tasks.clear();
        qCWarning(lcIcalReader) << "cannot read the calendar:" << m_result.error;
        return m_result;
    }

    IcalComponentPtr parseBlock(const Block &block)
    {
        IcalComponentPtr component = parseIcal(m_data.mid(block.begin, block.end - block.begin));
        if (!component) {
            m_result.error = lineError(block.firstLine, QStringLiteral("not valid iCalendar"));
        } else if (icalcomponent_count_errors(component.get()) > 0) {
            m_result.error =
                    lineError(firstBadLine(m_data, block), libicalMessage(component.get()));
            component.reset();
        }
        return component;
    }

    bool defineZone(const Block &block)
    {
        IcalComponentPtr component = parseBlock(block);
        if (!component)
            return false;
        const icalproperty *tzid =
                icalcomponent_get_first_property(component.get(), ICAL_TZID_PROPERTY);
        const QByteArray name = tzid ? QByteArray(icalproperty_get_tzid(tzid)) : QByteArray();
        if (name.isEmpty())
            return true; // a zone nobody can refer to
        if (m_zones.size() >= size_t(kMaxZones) || !sensibleZone(component.get())) {
            m_result.error =
                    lineError(block.firstLine,
                              m_zones.size() >= size_t(kMaxZones)
                                      ? QStringLiteral("more than %1 time zones").arg(kMaxZones)
                                      : QStringLiteral("a time zone with rules no time "
                                                       "zone has"));
            return false;
        }
        IcalTimezonePtr zone(icaltimezone_new());
        if (!icaltimezone_set_component(zone.get(), component.get())) {
            m_result.error = lineError(block.firstLine, QStringLiteral("not a valid VTIMEZONE"));
            return false;
        }
        component.release(); // the zone owns it now
        m_zones[name] =
                DefinedZone { std::move(zone), m_data.mid(block.begin, block.end - block.begin) };
        return true;
    }

    // A time zone named by a TZID: the file's own definition first, then the system's.
    icaltimezone *zoneNamed(const QByteArray &tzid)
    {
        const auto defined = m_zones.find(tzid);
        if (defined != m_zones.end())
            return defined->second.zone.get();
        return icaltimezone_get_builtin_timezone(tzid.constData());
    }

    QDateTime readDue(icalcomponent *todo, QSet<QByteArray> &zonesUsed)
    {
        icalproperty *property = icalcomponent_get_first_property(todo, ICAL_DUE_PROPERTY);
        if (!property)
            return {};
        icaltimetype due = icalproperty_get_due(property);
        if (due.is_date) {
            ++m_result.dateOnly;
            const QDate date(due.year, due.month, due.day);
            return date.isValid() ? QDateTime(date, QTime(23, 59)) : QDateTime();
        }
        if (icaltime_is_utc(due))
            return icalFieldsToDateTime(due, true);
        icalparameter *parameter = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
        if (!parameter)
            return icalFieldsToDateTime(due, false); // floating: the reader's time
        const QByteArray tzid(icalparameter_get_tzid(parameter));
        icaltimezone *zone = zoneNamed(tzid);
        if (!zone) {
            ++m_result.unknownZones;
            return icalFieldsToDateTime(due, false);
        }
        zonesUsed.insert(tzid);
        due.zone = zone;
        return icalFieldsToDateTime(icaltime_convert_to_zone(due, icaltimezone_get_utc_timezone()),
                                    true);
    }

    // The TZIDs every property of the component refers to.
    static void collectZones(icalcomponent *component, QSet<QByteArray> &zones)
    {
        for (icalproperty *property =
                     icalcomponent_get_first_property(component, ICAL_ANY_PROPERTY);
             property; property = icalcomponent_get_next_property(component, ICAL_ANY_PROPERTY)) {
            icalparameter *tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
            if (tzid && icalparameter_get_tzid(tzid))
                zones.insert(QByteArray(icalparameter_get_tzid(tzid)));
        }
    }

    bool readTask(const Block &block)
    {
        const IcalComponentPtr todo = parseBlock(block);
        if (!todo)
            return false;
        if (icalcomponent_get_first_property(todo.get(), ICAL_RECURRENCEID_PROPERTY)) {
            ++m_result.skipped; // one occurrence of a repeating task, not a task of its own
            return true;
        }
        IcalTask task;
        task.name = cleanName(icalcomponent_get_summary(todo.get()));
        if (task.name.isEmpty()) {
            ++m_result.skipped;
            return true;
        }
        if (task.name.size() > IcalReader::maxNameLength) {
            task.name.truncate(IcalReader::maxNameLength);
            ++m_result.shortened;
        }
        const char *uid = icalcomponent_get_uid(todo.get());
        task.uid = QString::fromUtf8(uid ? uid : "").trimmed();
        if (task.uid.isEmpty())
            task.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        task.done = icalcomponent_get_status(todo.get()) == ICAL_STATUS_COMPLETED
                    || icalcomponent_get_first_property(todo.get(), ICAL_COMPLETED_PROPERTY);
        QSet<QByteArray> zonesUsed;
        task.due = readDue(todo.get(), zonesUsed);
        if (icalproperty *created =
                    icalcomponent_get_first_property(todo.get(), ICAL_CREATED_PROPERTY)) {
            const icaltimetype time = icalproperty_get_created(created);
            task.created = icalFieldsToDateTime(time, icaltime_is_utc(time));
        }
        collectZones(todo.get(), zonesUsed);

        task.calendar = kCalendarHeader;
        for (const QByteArray &tzid : std::as_const(zonesUsed)) {
            const auto defined = m_zones.find(tzid);
            if (defined != m_zones.end())
                task.calendar += defined->second.text;
        }
        task.calendar += m_data.mid(block.begin, block.end - block.begin);
        if (!task.calendar.endsWith('\n'))
            task.calendar += "\r\n";
        task.calendar += kCalendarFooter;
        m_result.tasks.append(std::move(task));
        return true;
    }

    const QByteArray &m_data;
    IcalReadResult m_result;
    std::map<QByteArray, DefinedZone> m_zones;
};

} // namespace

IcalReadResult IcalReader::read(const QByteArray &data)
{
    return Reader(data).read();
}
