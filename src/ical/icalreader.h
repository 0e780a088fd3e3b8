#pragma once

#include "icaltask.h"

#include <QList>
#include <QString>

// What reading an iCalendar file gave: its tasks, or why it could not be read.
struct IcalReadResult
{
    QList<IcalTask> tasks;
    int skipped = 0; // components that are not tasks, and tasks that cannot be kept
    int dateOnly = 0; // due dates without a time, read as 23:59 local time
    int unknownZones = 0; // due times in a time zone nobody defines, read as local time
    int shortened = 0; // names cut to the longest name kept
    QString error; // "line 12: ..." when the file cannot be read; tasks is then empty
};

// Reads the VTODOs of an iCalendar text (RFC 5545), each with the text it came from.
class IcalReader
{
public:
    static IcalReadResult read(const QByteArray &data);
    // The longest task name kept; a longer SUMMARY is cut.
    static constexpr qsizetype maxNameLength = 1000;
};
