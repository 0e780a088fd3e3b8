#pragma once

#include "icaltask.h"

#include <QByteArray>

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

// Whether a written calendar carries this program's alarm.
bool carriesOwn(const QByteArray &calendar);

} // namespace IcalAlarm
