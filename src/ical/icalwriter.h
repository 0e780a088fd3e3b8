#pragma once

#include "icaltask.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>

// Writes tasks as iCalendar (RFC 5545): a task read from iCalendar keeps the properties of its
// VTODO that the task list does not show, and the VTIMEZONEs they refer to.
class IcalWriter
{
public:
    // One VCALENDAR with a VTODO per task; stamp is the DTSTAMP of every VTODO.
    static QByteArray write(const QList<IcalTask> &tasks, const QDateTime &stamp);
    // One task as a VCALENDAR of its own, as a calendar server stores it.
    static QByteArray writeTask(const IcalTask &task, const QDateTime &stamp);
};
