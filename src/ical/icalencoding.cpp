#include "icalencoding.h"

#include <QString>

namespace {

// The characters of 0x80-0x9F in Windows-1252; 0 where it defines none (read as Latin-1).
constexpr char16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// The length of the valid UTF-8 sequence at i, or 0.
qsizetype utf8Length(const QByteArray &data, qsizetype i)
{
    const auto byte = [&](qsizetype at) { return uchar(data.at(at)); };
    const uchar lead = byte(i);
    if (lead < 0x80)
        return 1;
    qsizetype length = lead >= 0xC2 && lead <= 0xDF   ? 2
                       : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                      : 0;
    if (length == 0 || i + length > data.size())
        return 0;
    for (qsizetype k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    }
    const uchar second = byte(i + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F)
        || (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
        return 0; // overlong, a surrogate, or beyond U+10FFFF
    return length;
}

} // namespace

QByteArray utf8FromWindows1252(const QByteArray &data, qsizetype *recoded)
{
    QByteArray text;
    text.reserve(data.size() + data.size() / 8);
    qsizetype count = 0;
    for (qsizetype i = 0; i < data.size();) {
        const qsizetype length = utf8Length(data, i);
        if (length > 0) {
            text.append(data.constData() + i, length);
            i += length;
            continue;
        }
        const uchar byte = uchar(data.at(i++));
        const char16_t high = byte < 0xA0 ? kHigh[byte - 0x80] : 0;
        text += QString(QChar(high ? high : char16_t(byte))).toUtf8();
        ++count;
    }
    if (recoded)
        *recoded = count;
    return text;
}
