#include "icalconvert.h"

#include <QTimeZone>

#include <cstring>

namespace {

constexpr qsizetype kMaxLineOctets = 75;

// Hands libical the text line by line as fgets would; libical's own string reader scans the
// rest of the text again for every chunk, which makes a long line quadratic.
struct TextSource
{
    const char *position;
    const char *end;
};

char *nextChunk(char *out, size_t size, void *data)
{
    auto *source = static_cast<TextSource *>(data);
    if (source->position >= source->end || size < 2)
        return nullptr;
    const size_t available = size_t(source->end - source->position);
    const size_t most = std::min(size - 1, available);
    const auto *newline = static_cast<const char *>(std::memchr(source->position, '\n', most));
    const size_t taken = newline ? size_t(newline - source->position) + 1 : most;
    std::memcpy(out, source->position, taken);
    out[taken] = '\0';
    source->position += taken;
    return out;
}

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

QByteArray icalCalendarHeader()
{
    return QByteArrayLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:") + kIcalProductId
           + QByteArrayLiteral("\r\n");
}

IcalComponentPtr parseIcal(const QByteArray &text)
{
    icalerror_set_errors_are_fatal(0); // a bad file is reported, never an abort
    ical_set_unknown_token_handling_setting(ICAL_ASSUME_IANA_TOKEN);
    TextSource source { text.constData(), text.constData() + text.size() };
    icalparser *parser = icalparser_new();
    icalparser_set_gen_data(parser, &source);
    IcalComponentPtr component(icalparser_parse(parser, nextChunk));
    icalparser_free(parser);
    return component;
}

QDateTime icalFieldsToDateTime(const icaltimetype &time, bool utc)
{
    const QDate date(time.year, time.month, time.day);
    const QTime clock(time.hour, time.minute, time.second);
    if (!date.isValid() || !clock.isValid())
        return {};
    return utc ? QDateTime(date, clock, QTimeZone::utc()) : QDateTime(date, clock);
}

// Written digit by digit (QDateTime::toString goes through the locale's calendar, which took a
// tenth of an export's text); the years of four digits alone.
QByteArray icalUtcText(const QDateTime &dateTime)
{
    const QDateTime utc = dateTime.toUTC();
    const QDate date = utc.date();
    if (date.year() < 1 || date.year() > 9999)
        return utc.toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
    const QTime time = utc.time();
    QByteArray text(16, 'Z');
    const auto put = [&text](qsizetype at, int value, int digits) {
        for (qsizetype i = at + digits - 1; i >= at; --i, value /= 10)
            text[i] = char('0' + value % 10);
    };
    put(0, date.year(), 4);
    put(4, date.month(), 2);
    put(6, date.day(), 2);
    text[8] = 'T';
    put(9, time.hour(), 2);
    put(11, time.minute(), 2);
    put(13, time.second(), 2);
    return text;
}

QByteArray foldIcalLines(const QByteArray &text)
{
    QByteArray folded;
    folded.reserve(text.size() + text.size() / 32);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        qsizetype lineEnd = end;
        if (lineEnd > start && text.at(lineEnd - 1) == '\r')
            --lineEnd;
        // The first line holds 75 octets, each continuation a space and 74 more.
        qsizetype position = start;
        qsizetype room = kMaxLineOctets;
        while (lineEnd - position > room) {
            qsizetype cut = position + room;
            while (cut > position && isContinuationByte(text.at(cut)))
                --cut;
            if (cut == position) // not UTF-8: cut where the octets run out
                cut = position + room;
            folded.append(text.constData() + position, cut - position);
            folded.append("\r\n ");
            position = cut;
            room = kMaxLineOctets - 1;
        }
        folded.append(text.constData() + position, lineEnd - position);
        folded.append("\r\n");
        start = end + 1;
    }
    return folded;
}
