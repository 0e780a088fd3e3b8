#pragma once

#include "icaltask.h"

#include <QHash>
#include <QList>
#include <QString>

#include <functional>

class QIODevice;

// What reading an iCalendar text gave: its tasks, or why it could not be read.
struct IcalReadResult
{
    QList<IcalTask> tasks;
    int skipped = 0; // components that are not tasks, and tasks that cannot be kept
    int dateOnly = 0; // due dates without a time, read as 23:59 local time
    int unknownZones = 0; // due times in a time zone nobody defines, read as local time
    int shortened = 0; // names cut to the longest name kept
    int dueDropped = 0; // due times that cannot be read or lie outside the calendar (year 0)
    qsizetype recoded = 0; // characters of a file that is not UTF-8, read as Windows-1252
    // Components of a file left out because they cannot be read (counted in skipped too, or,
    // for a time zone, in unknownZones for the due times in it), and why the first one was.
    int unreadable = 0;
    QString firstUnreadable; // "line 12: ..."
    // Of a file: the zones its tasks' times use, by TZID, with the file's definition (empty
    // where it has none); the tasks' texts name them without defining them.
    QHash<QByteArray, QByteArray> zones;
    QString error; // "line 12: ..." when the text cannot be read; tasks is then empty
    bool cancelled = false; // the caller stopped the reading; tasks is then empty
};

// Tasks of a file handed on while it is read (IcalReader::readInSlices), with the zones they use
// as IcalReadResult::zones has them, and how many VTODOs of the file were not read yet.
struct IcalReadSlice
{
    QList<IcalTask> tasks;
    QHash<QByteArray, QByteArray> zones;
    qsizetype todosLeft = 0;
};

// Reads the VTODOs of an iCalendar text (RFC 5545) with libical, each with the text it came
// from. A property libical cannot read is no reason to refuse a task: the text keeps it, and the
// writer (IcalWriter) writes it back as it came.
class IcalReader
{
public:
    enum class Mode {
        // A file a person imports: every VTODO is a task, its repeated occurrences
        // (RECURRENCE-ID) travel with it. A VTODO with a property the task list shows that
        // cannot be read is left out, and a time zone that is unsound too (due times in it read
        // as in an unknown zone), each named by its line; the file is refused only when it is
        // not iCalendar as a whole.
        File,
        // One calendar object resource of a CalDAV collection: its task is the first VTODO
        // that is not an occurrence, and the task keeps the whole text. What cannot be read is
        // left out of the task (an unreadable DUE reads as no due time), never a reason to
        // drop the task.
        Resource,
    };

    // Told how many of the file's components were read, of how many; false stops the reading.
    using Progress = std::function<bool(qsizetype done, qsizetype total)>;

    // A file is read a piece at a time, as one that is not UTF-8 is read by ImportTexts::asUtf8.
    static IcalReadResult read(const QByteArray &data, Mode mode = Mode::File,
                               const Progress &progress = {});
    // Takes a slice of a file's tasks; false stops the reading.
    using Take = std::function<bool(IcalReadSlice &&slice)>;
    // Reads a file as read does and hands its tasks on to take in slices of at most slice tasks,
    // each as soon as it is complete; the result holds none of them. A file with occurrences
    // (RECURRENCE-ID), which may follow their task anywhere, is handed on whole at its end.
    static IcalReadResult readInSlices(QIODevice *file, qsizetype slice, const Take &take,
                                       const Progress &progress = {});
    // The longest task name kept; a longer SUMMARY is cut.
    static constexpr qsizetype maxNameLength = 1000;
};
