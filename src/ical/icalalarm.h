#pragma once

#include "icaltask.h"

#include <QByteArray>
#include <QDateTime>

#include <optional>

// The reminder this program writes into a VTODO, so that other clients remind too:
//   BEGIN:VALARM / ACTION:DISPLAY / TRIGGER;RELATED=END:-PT<lead>M / DESCRIPTION:<name> /
//   X-TARVIK-REMINDER:TRUE / END:VALARM
// The X- line tells it from another program's alarms, which are never touched: a VTODO that has
// one of its own gets none from here.
namespace IcalAlarm {

// The marker line of this program's alarm.
inline constexpr char kMarker[] = "X-TARVIK-REMINDER";

// The VTODO text (unfolded lines, each ended by CR LF, from BEGIN:VTODO to END:VTODO) with this
// program's alarm as the task asks: task.alarmLead unset leaves the text as it is; otherwise
// this program's alarm is removed, and one is written again for a pending task with a due time
// and a lead of zero or more minutes, unless another program's alarm is there.
QByteArray patched(const QByteArray &todo, const IcalTask &task);

// The reminder another program's alarm in a VTODO (or the first VTODO of a VCALENDAR) asks for,
// in minutes before the task's due time (in UTC): that of the first alarm this program can show
// as its own reminder, or unset when there is none (icalalarmread.cpp). Such an alarm displays
// or plays a sound, at or before the due time, in whole minutes: relative to DUE, relative to
// the start where the VTODO starts when it is due (or has no DTSTART), or at a UTC moment.
std::optional<int> leadIn(const QByteArray &text, const QDateTime &due);

// Whether a written calendar carries this program's alarm.
bool carriesOwn(const QByteArray &calendar);

} // namespace IcalAlarm
