#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// One task as iCalendar carries it: what the task list keeps of a VTODO, and the VTODO's own
// text, so that properties this program does not show survive the next export or sync.
struct IcalTask
{
    qint64 id = 0; // the row in tasks; 0 while the task is not stored
    QString uid;
    QString name;
    bool done = false;
    QDateTime due; // invalid when the task has no due time
    QDateTime created; // invalid when unknown
    // A VCALENDAR holding the task's VTODO as last read or written, with the VTIMEZONEs it
    // refers to; empty for a task that never went through iCalendar.
    QByteArray calendar;
};
