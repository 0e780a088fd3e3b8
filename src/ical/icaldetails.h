#pragma once

#include "taskdetails.h"

#include <QByteArray>

#include <libical/ical.h>

// How a task's notes, priority and tags travel in a VTODO: DESCRIPTION, PRIORITY and
// CATEGORIES. A PRIORITY of 1 to 4 reads as high, 5 as medium, 6 to 9 as low; high, medium
// and low are written as 1, 5 and 9, and none as no PRIORITY. Any other value received is kept
// (TaskDetails::priorityRaw) and written back as it came while the priority is not changed.
namespace IcalDetails {

TaskDetails read(icalcomponent *todo);
// The priority a PRIORITY value reads as.
int level(int value);
// The PRIORITY value written for the details; -1 for none.
int value(const TaskDetails &details);
// The lines written for each, unfolded and ended by CR LF; empty when there is none.
QByteArray descriptionLine(const QString &notes);
QByteArray priorityLine(const TaskDetails &details);
// All the tags as one line.
QByteArray categoriesLine(const QStringList &tags);

} // namespace IcalDetails
