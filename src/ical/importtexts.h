#pragma once

#include "icalreader.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

struct ImportCounts;

// What an import says of a file it could not take as it stood, and the reading it needs first.
namespace ImportTexts {

// The text of a file that is not valid UTF-8 as it stands, as UTF-8; recoded counts the
// characters read as Windows-1252.
QByteArray asUtf8(const QByteArray &data, qsizetype *recoded);
// The notes an import adds to its counts, or nothing.
QString importNotes(const IcalReadResult &read, QStringList notes);
// Leaves out every task with the UID of an earlier one, of tasks or of seen (the UIDs of the
// file's tasks so far, which it adds to), and adds the names of those it left out to dropped.
void dropDoubledUids(QList<IcalTask> &tasks, QSet<QString> &seen, QStringList &dropped);
// What an import says of the tasks it left out for their UIDs, or nothing.
QString doubledUidsNote(const QStringList &dropped);
// The result of an import that did not finish, what it saved counted.
QString partialImport(const char *what, qsizetype saved, qsizetype total, const ImportCounts &c);

} // namespace ImportTexts
