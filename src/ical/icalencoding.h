#pragma once

#include <QByteArray>

// Text that is not valid UTF-8, as programs on Windows and older ones write it: each byte that
// is no part of a valid UTF-8 sequence is read as Windows-1252 (Latin-1 with the printable
// characters of 0x80-0x9F). Valid UTF-8 stays as it is; how many bytes were read as
// Windows-1252 goes to recoded.
QByteArray utf8FromWindows1252(const QByteArray &data, qsizetype *recoded = nullptr);
