#pragma once

#include "icalholder.h"
#include "icaltask.h"

#include <QSet>

// A VTODO's rule of repeating as the reader takes it: RRULE, the X- property of repeating from
// completion, and the zone of DTSTART or DUE (their TZID where the system knows it, UTC for a
// time in UTC, local time for a floating one).
Recurrence::Rule icalRepeatOf(icalcomponent *todo);

// A repeating task whose occurrences another client completed as occurrences of their own
// (RECURRENCE-ID; completed holds their times in seconds since the epoch) is due at its first
// occurrence not completed.
void skipCompletedOccurrences(IcalTask &task, const QSet<qint64> &completed);
