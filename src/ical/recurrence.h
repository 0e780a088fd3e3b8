#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTimeZone>

// The rule of a repeating task (an RRULE value of RFC 5545) and what follows from it. The
// occurrences are those of libical's recurrence iterator, counted in wall-clock time of the
// task's zone: a task due daily at 09:00 stays at 09:00 local across a change of the clocks.
namespace Recurrence {

// The X- property that says the next occurrence counts from the completion, not from the due
// time ("X-TARVIK-REPEAT-FROM:COMPLETION").
inline constexpr char kFromProperty[] = "X-TARVIK-REPEAT-FROM";

struct Rule
{
    QByteArray rrule; // the RRULE value; empty for a task that does not repeat
    bool fromCompletion = false;
    QByteArray zone; // the IANA zone the occurrences are counted in; empty for local time
    // Occurrences taken out (EXDATE), as read; the text keeps them as written.
    QList<QDateTime> excluded;

    bool repeats() const { return !rrule.isEmpty(); }
    QTimeZone timeZone() const;
    bool operator==(const Rule &other) const
    {
        return rrule == other.rrule && fromCompletion == other.fromCompletion;
    }
    bool operator!=(const Rule &other) const { return !(*this == other); }
};

// Whether libical reads rrule as a rule with a frequency.
bool isValid(const QByteArray &rrule);

// The first occurrence of the series that starts at start (itself the first occurrence) strictly
// after after; invalid when the series ends before. skipped, when given, receives how many
// occurrences from start on come before it.
QDateTime nextOccurrence(const QByteArray &rrule, const QDateTime &start, const QTimeZone &zone,
                         const QDateTime &after, int *skipped = nullptr);

// The first occurrence of the rule not taken out (EXDATE) strictly after after; passed, when
// given, receives how many occurrences come before it. Dates added to a series (RDATE) stay as
// other clients wrote them, but the series moves past them: moving its start to one would move
// every later occurrence to its time of day.
QDateTime nextOccurrence(const Rule &rule, const QDateTime &start, const QDateTime &after,
                         int *passed = nullptr);

// What completing an occurrence of a repeating task does to it.
struct Advance
{
    bool repeats = false; // false: no occurrence is left, the task is done
    QDateTime due; // the next due time
    QByteArray rrule; // the rule from there on (COUNT lowered by the occurrences passed)
};

// Completing the task due at due (its series starting at start, or at due when start is
// invalid) at now: the first occurrence after both now and due, or, from completion, now plus
// the rule's interval.
Advance complete(const Rule &rule, const QDateTime &due, const QDateTime &start,
                 const QDateTime &now);

// The rule in words, as the list's tooltip says it: "Every 2 weeks on Mon, Thu, 5 times".
QString describe(const QByteArray &rrule);

} // namespace Recurrence
