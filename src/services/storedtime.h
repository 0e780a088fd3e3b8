#pragma once

#include <QDateTime>
#include <QVariant>

// How the tasks table keeps date-times: due times as UTC ISO text plus epoch seconds, creation
// times as SQLite's zone-less UTC text.
namespace StoredTime {

// A stored text as a local date-time; invalid for NULL or text that does not parse.
QDateTime read(const QVariant &value);
// The same instant in UTC, read without the C library's look-ups of the local zone (which ask
// the file system for each value): for the many values of an export.
QDateTime readUtc(const QVariant &value);

// The value bound for the due-time text: the instant in UTC, or a null date-time.
QVariant dueText(const QDateTime &expireAt);

// The value bound for the due time's epoch seconds, or a null integer.
QVariant dueEpoch(const QDateTime &expireAt);

// The value bound for a creation time a writer brings: the instant as SQLite's
// CURRENT_TIMESTAMP writes it (UTC, "yyyy-MM-dd HH:mm:ss", no zone), or a null string when
// there is none or it has no such text (years before 1 or after 9999).
QVariant createdText(const QDateTime &created);

// The local-time text a reminder shows for epoch seconds: "yyyy-MM-dd HH:mm".
QString reminderText(qint64 epoch);

// base + delta, held within the 64-bit range.
qint64 saturatingAdd(qint64 base, qint64 delta);

} // namespace StoredTime
