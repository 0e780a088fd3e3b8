#pragma once

#include "icaltask.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSet>

// Writes tasks as iCalendar (RFC 5545). A task read from iCalendar is written as its kept text
// (IcalTask::calendar) with only the properties this program owns rewritten from the task:
// SUMMARY, DUE, STATUS, COMPLETED, PERCENT-COMPLETE where present, LAST-MODIFIED, DTSTAMP, and
// a UID where it has none. Every other line (RRULE, VALARM, DESCRIPTION, CATEGORIES, X- and
// unknown properties, occurrences, time zones) is written back as it came, so that another
// program reads it as it wrote it. A property is rewritten only when the task differs from what
// the kept text says. This program's own VALARM is written as IcalTask::alarmLead asks
// (icalalarm.h). Every line is folded at 75 octets, never inside a UTF-8 character.
class IcalWriter
{
public:
    // One VCALENDAR with a VTODO per task and the time zones they refer to, each once; stamp is
    // the DTSTAMP of every VTODO.
    static QByteArray write(const QList<IcalTask> &tasks, const QDateTime &stamp);
    // The same in pieces, for a file written while it is made: between icalCalendarHeader()
    // and "END:VCALENDAR", the VTODOs of tasks[from, to) and the time zones they refer to that
    // are not in zones yet (written before), which are added to it.
    static QByteArray writeSlice(const QList<IcalTask> &tasks, qsizetype from, qsizetype to,
                                 const QDateTime &stamp, QSet<QByteArray> &zones);
    // A task's components as writeSlice writes them, unfolded: its VTODOs, and the time zones
    // they refer to (zone, with their TZID). Made of the task alone, so that several threads
    // may make the pieces of different tasks at once.
    struct Piece
    {
        bool zone = false;
        QByteArray tzid;
        QByteArray text;
    };
    static QList<Piece> pieces(const IcalTask &task, const QDateTime &stamp);
    // The pieces of several tasks in turn, folded, without the zones in zones (which are
    // written before), which are added to it.
    static QByteArray joinPieces(const QList<QList<Piece>> &tasks, QSet<QByteArray> &zones);
    // One task as a calendar object resource of its own, as a calendar server stores it; stamp
    // is the time of the change: the DTSTAMP, and LAST-MODIFIED when a property changes.
    static QByteArray writeTask(const IcalTask &task, const QDateTime &stamp);
};
