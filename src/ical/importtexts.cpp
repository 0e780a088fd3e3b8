// What an import says of a file it could not take as it stood.
#include "importtexts.h"

#include "icalencoding.h"
#include "transferwork.h"

#include <QSet>

// The text of a file that is not valid UTF-8 as it stands: unfolded, since a line may be folded
// inside a character, and read as Windows-1252 where it is not UTF-8 even then.
QByteArray ImportTexts::asUtf8(const QByteArray &data, qsizetype *recoded)
{
    QByteArray unfolded = data;
    unfolded.replace("\r\n ", "").replace("\r\n\t", "").replace("\n ", "").replace("\n\t", "");
    if (QUtf8StringView(unfolded).isValidUtf8())
        return unfolded;
    return utf8FromWindows1252(unfolded, recoded);
}

// The notes an import adds to its counts, for what it could not take as it stood.
QString ImportTexts::importNotes(const IcalReadResult &read, QStringList notes)
{
    if (read.dateOnly > 0)
        notes << QStringLiteral("%1 due dates without a time set to 23:59 local time")
                         .arg(read.dateOnly);
    if (read.unknownZones > 0)
        notes << QStringLiteral("%1 due times in an unknown time zone read as local time")
                         .arg(read.unknownZones);
    if (read.unreadable > 0)
        notes << QStringLiteral("%1 unreadable components left out, the first at %2")
                         .arg(read.unreadable)
                         .arg(read.firstUnreadable);
    if (read.dueDropped > 0)
        notes << QStringLiteral("%1 tasks without the due time they had, which cannot be read or "
                                "lies before year 1")
                         .arg(read.dueDropped);
    if (read.shortened > 0)
        notes << QStringLiteral("%1 names shortened to %2 characters")
                         .arg(read.shortened)
                         .arg(IcalReader::maxNameLength);
    return notes.isEmpty() ? QString()
                           : QStringLiteral(" (") + notes.join(QStringLiteral("; ")) + u')';
}

// A later VTODO with the UID of an earlier one is left out, and named, rather than made to
// overwrite it: a UID stands for one task.
void ImportTexts::dropDoubledUids(QList<IcalTask> &tasks, SeenUids &seen)
{
    tasks.removeIf([&seen](const IcalTask &task) {
        const std::pair<size_t, size_t> hash { qHash(task.uid, 0x5eed1), qHash(task.uid, 0x5eed2) };
        if (!seen.hashes.contains(hash)) {
            seen.hashes.insert(hash);
            return false;
        }
        if (seen.doubled++ == 0)
            seen.firstDoubled = task.name;
        return true;
    });
}

QString ImportTexts::doubledUidsNote(const SeenUids &seen)
{
    if (seen.doubled == 0)
        return {};
    return QStringLiteral("%1 tasks left out for the UID of another task in the file, the first "
                          "\"%2\"")
            .arg(seen.doubled)
            .arg(seen.firstDoubled.left(60));
}

// What an import that did not finish kept: the batches it had saved.
QString ImportTexts::partialImport(const char *what, qsizetype saved, qsizetype total,
                                   const ImportCounts &c)
{
    return QStringLiteral("%1 after %2 of %3 tasks; those were saved (imported %4, updated %5, "
                          "kept %6 newer here), the rest of the file was not imported")
            .arg(QLatin1String(what))
            .arg(saved)
            .arg(total)
            .arg(c.imported)
            .arg(c.updated)
            .arg(c.kept);
}
