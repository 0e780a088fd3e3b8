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
// The UIDs of a file's tasks read so far, each kept as 128 bits of two independent hashes
// rather than whole (two UIDs alike in all of them are, in practice, the same), and the tasks
// left out for the UID of an earlier one.
struct SeenUids
{
    QSet<std::pair<size_t, size_t>> hashes;
    qsizetype doubled = 0;
    QString firstDoubled; // the name of the first task left out
};
// Leaves out every task with the UID of an earlier one, of tasks or of seen, which it adds to.
void dropDoubledUids(QList<IcalTask> &tasks, SeenUids &seen);
// What an import says of the tasks it left out for their UIDs, or nothing.
QString doubledUidsNote(const SeenUids &seen);
// The result of an import that did not finish, what it saved counted.
QString partialImport(const char *what, qsizetype saved, qsizetype total, const ImportCounts &c);

} // namespace ImportTexts
