#pragma once

#include <QtGlobal>

#include <cstddef>

// SQLite's LIKE, without ESCAPE, as it compares UTF-8 text: "%" any run of characters, "_" one
// character as SQLite reads it, ASCII letters regardless of case, other letters as they are.
namespace SqliteLike {

// ASCII letters in small letters, as LIKE compares them.
inline void foldAscii(char *text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (text[i] >= 'A' && text[i] <= 'Z')
            text[i] = char(text[i] + ('a' - 'A'));
    }
}

// Whether text matches pattern, both folded and NUL-terminated.
bool matches(const uchar *pattern, const uchar *text);

// Well-formed UTF-8 without the characters LIKE reads as U+FFFD: in such text a run of bytes
// is found exactly where LIKE finds the characters they encode.
bool plainUtf8(const uchar *text, size_t length);

} // namespace SqliteLike
