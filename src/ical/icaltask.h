#pragma once

#include "taskdetails.h"

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>

#include "recurrence.h"

#include <optional>

// What a task is made of, as far as a VTODO carries it. The due time is in UTC, or invalid for
// a task without one.
struct TaskFields
{
    QString name;
    bool done = false;
    QDateTime due;

    bool operator==(const TaskFields &other) const
    {
        return name == other.name && done == other.done && due.isValid() == other.due.isValid()
               && (!due.isValid() || due.toSecsSinceEpoch() == other.due.toSecsSinceEpoch());
    }
    bool operator!=(const TaskFields &other) const { return !(*this == other); }
};

Q_DECLARE_METATYPE(TaskFields)

// One task as iCalendar carries it: what the task list keeps of a VTODO, and the text of the
// calendar object the VTODO came in, so that properties this program does not show survive the
// next export or sync.
struct IcalTask
{
    qint64 id = 0; // the row in tasks; 0 while the task is not stored
    QString uid;
    QString name;
    bool done = false;
    QDateTime due; // invalid when the task has no due time
    QDateTime created; // invalid when unknown
    QDateTime lastModified; // LAST-MODIFIED; invalid when absent
    QDateTime stamp; // DTSTAMP; invalid when absent
    // RRULE and whether it repeats from completion, as read, or as the writer is to write
    // them; unset for a writer that leaves the kept text's rule as it is.
    std::optional<Recurrence::Rule> repeat;
    QDateTime start; // DTSTART in UTC as read; invalid when absent
    // Minutes before DUE of the reminder the writer is to write (IcalAlarm), or negative for
    // none; unset for a writer that leaves the kept text's alarms as they are.
    std::optional<int> alarmLead;
    // A VCALENDAR holding the task's VTODO as last read or written, with the VTIMEZONEs it
    // refers to (put back by IcalZoneStore where an import kept them apart); empty for a task
    // that never went through iCalendar.
    QByteArray calendar;
    // The notes, priority and tags; written only when known (read from iCalendar or from the
    // task's own rows), so that a writer that did not read them leaves the kept ones alone.
    TaskDetails details;
    bool detailsKnown = false;

    TaskFields fields() const { return { name, done, due }; }
    void setFields(const TaskFields &fields)
    {
        name = fields.name;
        done = fields.done;
        due = fields.due;
    }
};
