#include "icallines.h"

#include <cstring>

namespace {

// Deeper nesting than any calendar program writes is taken as a broken or hostile file.
constexpr int kMaxDepth = 8;
// BEGIN and END values are short; the rest of a long line is not needed to see its structure.
constexpr qsizetype kLineHead = 256;

bool isNameOctet(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

} // namespace

QString icalLineError(int line, const QString &what)
{
    return QStringLiteral("line %1: %2").arg(line).arg(what);
}

IcalLineReader::IcalLineReader(const QByteArray &data, qsizetype from, qsizetype to,
                               int linesBefore)
    : m_data(data)
    , m_position(from)
    , m_end(to < 0 ? data.size() : to)
    , m_line(linesBefore)
{
}

bool IcalLineReader::next(IcalLine &line, bool &nul)
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
    } while (m_position < m_end && (m_data.at(m_position) == ' ' || m_data.at(m_position) == '\t'));
    line.end = m_position;
    return true;
}

QByteArray icalPropertyName(const IcalLine &line, const QByteArray &data)
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

QByteArray icalUnfoldedLine(const IcalLine &line, const QByteArray &data)
{
    QByteArray text;
    text.reserve(line.end - line.begin);
    qsizetype position = line.begin;
    bool first = true;
    while (position < line.end) {
        const char *start = data.constData() + position;
        const auto *newline =
                static_cast<const char *>(std::memchr(start, '\n', line.end - position));
        qsizetype length = newline ? newline - start : line.end - position;
        position += length + 1;
        if (length > 0 && start[length - 1] == '\r')
            --length;
        const qsizetype skip = first ? 0 : 1;
        if (length > skip)
            text.append(start + skip, length - skip);
        first = false;
    }
    return text;
}

QByteArray icalLineValue(const QByteArray &line)
{
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line.at(i);
        if (c == '"')
            quoted = !quoted;
        else if (c == ':' && !quoted)
            return line.mid(i + 1);
    }
    return {};
}

QList<IcalBlock> splitIcalCalendar(const QByteArray &data, QString &error)
{
    IcalSplitter splitter;
    QList<IcalBlock> blocks;
    if (splitter.split(data, 0, true, blocks))
        return blocks;
    error = splitter.error;
    return {};
}

bool IcalSplitter::fail(int line, const QString &what)
{
    error = icalLineError(line, what);
    return false;
}

qsizetype IcalSplitter::openBegin() const
{
    return m_open.size() > 1 ? m_block.begin : -1;
}

void IcalSplitter::dropped(qsizetype count)
{
    m_block.begin -= count;
}

bool IcalSplitter::split(const QByteArray &data, qsizetype from, bool last,
                         QList<IcalBlock> &blocks)
{
    if (from == 0 && m_lines == 0 && data.startsWith("\xEF\xBB\xBF"))
        from = 3;
    IcalLineReader reader(data, from, -1, m_lines);
    IcalLine line;
    bool nul = false;
    while (reader.next(line, nul)) {
        m_lines = reader.physicalLines();
        if (line.head.trimmed().isEmpty() && !nul)
            continue;
        const QByteArray name = icalPropertyName(line, data);
        if (nul && m_seenCalendar)
            return fail(line.number, QStringLiteral("contains a NUL character"));
        if (!m_seenCalendar && (name != "BEGIN" || nul))
            return fail(line.number,
                        QStringLiteral("not an iCalendar file (BEGIN:VCALENDAR expected)"));
        if (name.isEmpty()) {
            const bool cut = last && line.end == data.size() && !data.endsWith('\n');
            return fail(line.number,
                        cut ? QStringLiteral("the file ends inside this line; it may be cut short")
                            : QStringLiteral("not an iCalendar line (NAME:value expected)"));
        }
        const bool begin = name == "BEGIN";
        const QByteArray value =
                begin || name == "END"
                        ? line.head.mid(line.head.indexOf(':') + 1).trimmed().toUpper()
                        : QByteArray();
        if (begin) {
            if (m_open.empty() && value != "VCALENDAR")
                return fail(line.number, QStringLiteral("BEGIN:VCALENDAR expected"));
            if (m_open.size() >= size_t(kMaxDepth))
                return fail(line.number, QStringLiteral("components nested too deeply"));
            if (m_open.size() == 1)
                m_block = IcalBlock { value, line.number, line.begin, 0 };
            m_open.push_back({ value, line.number });
            m_seenCalendar = true;
        } else if (name == "END") {
            if (m_open.empty())
                return fail(line.number,
                            QStringLiteral("END:%1 without BEGIN").arg(QString::fromUtf8(value)));
            if (m_open.back().kind != value)
                return fail(line.number, QStringLiteral("END:%1 expected (BEGIN on line %2)")
                                                 .arg(QString::fromUtf8(m_open.back().kind))
                                                 .arg(m_open.back().line));
            m_open.pop_back();
            if (m_open.size() == 1) {
                m_block.end = line.end;
                blocks.append(m_block);
            }
        } else if (m_open.empty()) {
            return fail(line.number, QStringLiteral("text after END:VCALENDAR"));
        }
    }
    m_lines = reader.physicalLines();
    if (!last)
        return true;
    if (!m_seenCalendar)
        return fail(1, QStringLiteral("not an iCalendar file (the file is empty)"));
    if (!m_open.empty())
        return fail(m_lines,
                    QStringLiteral("the file ends before END:%1 (BEGIN on line %2); it may be "
                                   "cut short")
                            .arg(QString::fromUtf8(m_open.back().kind))
                            .arg(m_open.back().line));
    return true;
}
