#include "vtodotext.h"

#include <QStringList>
#include <QTimeZone>

namespace {

struct Property
{
    QString name; // upper case
    QString params; // everything between the name and the colon, upper case
    QString rawParams;
    QString value;
};

QStringList unfold(const QString &text)
{
    QStringList lines;
    const QStringList physical = QString(text).remove(QLatin1Char('\r')).split(QLatin1Char('\n'));
    for (const QString &line : physical) {
        if ((line.startsWith(QLatin1Char(' ')) || line.startsWith(QLatin1Char('\t')))
            && !lines.isEmpty())
            lines.last().append(line.mid(1));
        else if (!line.isEmpty())
            lines.append(line);
    }
    return lines;
}

Property parse(const QString &line)
{
    Property property;
    bool quoted = false;
    int nameEnd = -1;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char(';') && nameEnd < 0)
            nameEnd = i;
        else if (!quoted && c == QLatin1Char(':')) {
            if (nameEnd < 0)
                nameEnd = i;
            property.name = line.left(nameEnd).toUpper();
            property.rawParams = line.mid(nameEnd, i - nameEnd);
            property.params = property.rawParams.toUpper();
            property.value = line.mid(i + 1);
            return property;
        }
    }
    property.name = line.toUpper();
    return property;
}

QString unescape(const QString &value)
{
    QString text;
    text.reserve(value.size());
    for (int i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value.at(++i);
            text.append(next == QLatin1Char('n') || next == QLatin1Char('N') ? QChar(u'\n') : next);
        } else {
            text.append(c);
        }
    }
    return text;
}

QString escape(const QString &text)
{
    QString value;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char(';') || c == QLatin1Char(','))
            value.append(QLatin1Char('\\')).append(c);
        else if (c == QLatin1Char('\n'))
            value.append(QLatin1String("\\n"));
        else if (c != QLatin1Char('\r'))
            value.append(c);
    }
    return value;
}

QString paramValue(const Property &property, const QString &name)
{
    for (const QString &param : property.rawParams.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int eq = param.indexOf(QLatin1Char('='));
        if (eq > 0 && param.left(eq).compare(name, Qt::CaseInsensitive) == 0) {
            QString value = param.mid(eq + 1);
            if (value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
                value = value.mid(1, value.size() - 2);
            return value;
        }
    }
    return {};
}

// DATE-TIME in UTC, with a TZID, or floating (this machine's time); a DATE alone is the end of
// that day in this machine's time.
QDateTime parseTime(const Property &property)
{
    const QString value = property.value.trimmed();
    if (value.size() == 8 || property.params.contains(QLatin1String("VALUE=DATE;"))
        || property.params.endsWith(QLatin1String("VALUE=DATE"))) {
        const QDate date = QDate::fromString(value.left(8), QStringLiteral("yyyyMMdd"));
        return date.isValid() ? QDateTime(date, QTime(23, 59)).toUTC() : QDateTime();
    }
    const bool utc = value.endsWith(QLatin1Char('Z'), Qt::CaseInsensitive);
    QDateTime time = QDateTime::fromString(value.left(15), QStringLiteral("yyyyMMdd'T'HHmmss"));
    if (!time.isValid())
        return {};
    if (utc) {
        time.setTimeSpec(Qt::UTC);
    } else {
        const QTimeZone zone(paramValue(property, QStringLiteral("TZID")).toUtf8());
        if (zone.isValid())
            time.setTimeZone(zone);
    }
    return time.toUTC();
}

QString utcText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

// Folds a content line at 75 octets without splitting a UTF-8 sequence.
QString fold(const QString &line)
{
    const QByteArray utf8 = line.toUtf8();
    if (utf8.size() <= 75)
        return line + QStringLiteral("\r\n");
    QByteArray out;
    int start = 0;
    int limit = 75;
    while (start < utf8.size()) {
        int end = qMin(start + limit, int(utf8.size()));
        while (end < utf8.size() && end > start && (uchar(utf8.at(end)) & 0xC0) == 0x80)
            --end;
        if (start > 0)
            out.append(' ');
        out.append(utf8.mid(start, end - start)).append("\r\n");
        start = end;
        limit = 74;
    }
    return QString::fromUtf8(out);
}

QStringList fieldLines(const TaskFields &fields, bool name, bool done, bool due,
                       const QDateTime &now)
{
    QStringList lines;
    if (name)
        lines << QStringLiteral("SUMMARY:") + escape(fields.name);
    if (done) {
        lines << (fields.done ? QStringLiteral("STATUS:COMPLETED")
                              : QStringLiteral("STATUS:NEEDS-ACTION"));
        if (fields.done)
            lines << QStringLiteral("COMPLETED:") + utcText(now);
    }
    if (due && fields.due.isValid())
        lines << QStringLiteral("DUE:") + utcText(fields.due);
    return lines;
}

} // namespace

namespace VTodoText {

VTodo read(const QString &ical)
{
    VTodo todo;
    int depth = 0;
    bool inTodo = false;
    QDateTime stamp;
    for (const QString &line : unfold(ical)) {
        const Property property = parse(line);
        if (property.name == QLatin1String("BEGIN")) {
            if (!todo.valid && !inTodo && property.value.trimmed().toUpper() == "VTODO") {
                inTodo = true;
                depth = 0;
            } else if (inTodo) {
                ++depth;
            }
            continue;
        }
        if (property.name == QLatin1String("END") && inTodo) {
            if (depth == 0) {
                inTodo = false;
                todo.valid = true;
            } else {
                --depth;
            }
            continue;
        }
        if (!inTodo || depth > 0)
            continue;
        if (property.name == QLatin1String("UID"))
            todo.uid = property.value.trimmed();
        else if (property.name == QLatin1String("SUMMARY"))
            todo.fields.name = unescape(property.value).trimmed();
        else if (property.name == QLatin1String("STATUS"))
            todo.fields.done |= property.value.trimmed().toUpper() == QLatin1String("COMPLETED");
        else if (property.name == QLatin1String("COMPLETED"))
            todo.fields.done = true;
        else if (property.name == QLatin1String("DUE"))
            todo.fields.due = parseTime(property);
        else if (property.name == QLatin1String("CREATED"))
            todo.created = parseTime(property);
        else if (property.name == QLatin1String("LAST-MODIFIED"))
            todo.lastModified = parseTime(property);
        else if (property.name == QLatin1String("DTSTAMP"))
            stamp = parseTime(property);
    }
    if (!todo.lastModified.isValid())
        todo.lastModified = stamp;
    todo.valid = todo.valid && !todo.uid.isEmpty();
    return todo;
}

QString create(const QString &uid, const TaskFields &fields, const QDateTime &created,
               const QDateTime &modified)
{
    QStringList lines { QStringLiteral("BEGIN:VCALENDAR"),
                        QStringLiteral("VERSION:2.0"),
                        QStringLiteral("PRODID:-//Brellhaven//Tarvik//EN"),
                        QStringLiteral("BEGIN:VTODO"),
                        QStringLiteral("UID:") + uid,
                        QStringLiteral("DTSTAMP:") + utcText(modified),
                        QStringLiteral("CREATED:") + utcText(created),
                        QStringLiteral("LAST-MODIFIED:") + utcText(modified) };
    lines << fieldLines(fields, true, true, true, modified);
    lines << QStringLiteral("END:VTODO") << QStringLiteral("END:VCALENDAR");
    QString text;
    for (const QString &line : lines)
        text += fold(line);
    return text;
}

namespace {

// Rewrites the named properties of the first VTODO from after; every other line stays.
QString patch(const QString &ical, const TaskFields &after, bool name, bool done, bool due,
              const QDateTime &modified)
{
    QStringList replaced { QStringLiteral("LAST-MODIFIED"), QStringLiteral("DTSTAMP") };
    if (name)
        replaced << QStringLiteral("SUMMARY");
    if (done)
        replaced << QStringLiteral("STATUS") << QStringLiteral("COMPLETED")
                 << QStringLiteral("PERCENT-COMPLETE");
    if (due)
        replaced << QStringLiteral("DUE") << QStringLiteral("DURATION");

    QString text;
    bool inTodo = false;
    bool seenTodo = false;
    int depth = 0;
    const auto insertFields = [&]() {
        QStringList lines { QStringLiteral("DTSTAMP:") + utcText(modified),
                            QStringLiteral("LAST-MODIFIED:") + utcText(modified) };
        lines << fieldLines(after, name, done, due, modified);
        for (const QString &line : lines)
            text += fold(line);
    };
    bool inserted = false;
    for (const QString &line : unfold(ical)) {
        const Property property = parse(line);
        const bool begin = property.name == QLatin1String("BEGIN");
        const bool end = property.name == QLatin1String("END");
        if (begin && !seenTodo && property.value.trimmed().toUpper() == "VTODO") {
            inTodo = seenTodo = true;
            text += fold(line);
            continue;
        }
        if (inTodo && depth == 0 && (begin || end) && !inserted) {
            insertFields();
            inserted = true;
        }
        if (inTodo && begin)
            ++depth;
        if (inTodo && end && depth-- == 0)
            inTodo = false;
        if (inTodo && depth == 0 && replaced.contains(property.name))
            continue;
        text += fold(line);
    }
    return text;
}

} // namespace

QString update(const QString &ical, const TaskFields &before, const TaskFields &after,
               const QDateTime &modified)
{
    const bool due = before.due.isValid() != after.due.isValid()
                     || (after.due.isValid()
                         && before.due.toSecsSinceEpoch() != after.due.toSecsSinceEpoch());
    return patch(ical, after, before.name != after.name, before.done != after.done, due, modified);
}

QString rewrite(const QString &ical, const TaskFields &fields, const QDateTime &modified)
{
    return patch(ical, fields, true, true, true, modified);
}

} // namespace VTodoText
