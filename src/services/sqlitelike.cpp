#include "sqlitelike.h"

#include <cstring>

namespace {

// One character as SQLite's LIKE reads it: a lead byte takes every continuation byte that
// follows, and what is no character comes out as U+FFFD.
uint readChar(const uchar *&text)
{
    uint c = *text++;
    if (c < 0xc0)
        return c;
    c = c < 0xe0   ? c & 0x1f
        : c < 0xf0 ? c & 0x0f
        : c < 0xf8 ? c & 0x07
        : c < 0xfc ? c & 0x03
        : c < 0xfe ? c & 0x01
                   : 0;
    while ((*text & 0xc0) == 0x80)
        c = (c << 6) + (0x3f & *text++);
    if (c < 0x80 || (c & 0xfffff800) == 0xd800 || (c & 0xfffffffe) == 0xfffe)
        c = 0xfffd;
    return c;
}

enum Compared { Matched, NotMatched, NotMatchedFurther };

// LIKE without ESCAPE on text folded as above, both NUL-terminated.
Compared compare(const uchar *pattern, const uchar *text)
{
    uint c;
    while ((c = readChar(pattern)) != 0) {
        if (c == '%') {
            while ((c = readChar(pattern)) == '%' || c == '_') {
                if (c == '_' && readChar(text) == 0)
                    return NotMatchedFurther;
            }
            if (c == 0)
                return Matched;
            if (c < 0x80) {
                // An ASCII byte is never part of another character: go from one to the next.
                while ((text = reinterpret_cast<const uchar *>(
                                std::strchr(reinterpret_cast<const char *>(text), int(c))))) {
                    ++text;
                    const Compared rest = compare(pattern, text);
                    if (rest != NotMatched)
                        return rest;
                }
            } else {
                uint t;
                while ((t = readChar(text)) != 0) {
                    if (t != c)
                        continue;
                    const Compared rest = compare(pattern, text);
                    if (rest != NotMatched)
                        return rest;
                }
            }
            return NotMatchedFurther;
        }
        const uint t = readChar(text);
        if (c == t || (c == '_' && t != 0))
            continue;
        return NotMatched;
    }
    return *text == 0 ? Matched : NotMatched;
}

} // namespace

namespace SqliteLike {

bool matches(const uchar *pattern, const uchar *text)
{
    return compare(pattern, text) == Matched;
}

bool plainUtf8(const uchar *text, size_t length)
{
    size_t i = 0;
    while (i < length) {
        const uchar c = text[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        const int more = c >= 0xc2 && c <= 0xdf   ? 1
                         : c >= 0xe0 && c <= 0xef ? 2
                         : c >= 0xf0 && c <= 0xf4 ? 3
                                                  : -1;
        if (more < 0 || i + more >= length)
            return false;
        uint value = c & (0x3f >> more);
        for (int k = 1; k <= more; ++k) {
            if ((text[i + k] & 0xc0) != 0x80)
                return false;
            value = (value << 6) | (text[i + k] & 0x3f);
        }
        const uint least = more == 1 ? 0x80 : more == 2 ? 0x800 : 0x10000;
        if (value < least || value > 0x10ffff || (value & 0xfffff800) == 0xd800
            || (value & 0xfffffffe) == 0xfffe)
            return false;
        i += more + 1;
    }
    return true;
}

} // namespace SqliteLike
