#pragma once

#include "icalholder.h"
#include "icaltask.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>

#include <utility>

// A VTODO's rule of repeating as the reader takes it: RRULE, the X- property of repeating from
// completion, and the zone of DTSTART or DUE (their TZID where the system knows it, UTC for a
// time in UTC, local time for a floating one).
Recurrence::Rule icalRepeatOf(icalcomponent *todo);

// A repeating task whose occurrences another client completed as occurrences of their own
// (RECURRENCE-ID; completed holds their times in seconds since the epoch) or took out (EXDATE)
// is due at its first occurrence left.
void skipCompletedOccurrences(IcalTask &task, const QSet<qint64> &completed);

// The lines that replace properties of a kept VTODO (own: its first line of each name) for a
// task that says other than the kept text (kept: the task as that text reads): RRULE and the
// X- property of repeating from completion where the rule changed, and, for a repeating task
// moved to another occurrence, DUE and DTSTART moved by the same span in their own zone. An
// empty line removes the property.
QList<std::pair<QByteArray, QByteArray>> icalRepeatEdits(const QHash<QByteArray, QByteArray> &own,
                                                         const IcalTask &task,
                                                         const IcalTask &kept);
