#pragma once

#include "icaltask.h"

#include <QByteArray>
#include <QList>

#include <optional>

// A content line, unfolded, with its property name in upper case.
struct IcalNamedLine
{
    QByteArray name;
    QByteArray text;
};

// What a task's kept text says of it, found without reading the text with libical where that is
// sure: the text is iCalendar as IcalReader takes it, with one VTODO, and each property of that
// VTODO the writer compares with the task (SUMMARY, STATUS, COMPLETED, DUE, and where the task
// knows them DESCRIPTION, PRIORITY, CATEGORIES) is missing where the task has no value and
// otherwise is the very line the writer writes for the task's value, a value that libical reads
// back unchanged. The kept task then says what the task says (the writer leaves those lines as
// they are). A repeating task, or a text that differs in any of these, is read with libical.
namespace IcalKept {

// The kept task as IcalReader::read(calendar, Resource) gives it, as far as the writer compares
// it with task; none when that is not sure. own holds the lines of the VTODO's own properties
// in order (not those of its alarms), each with its name in upper case, unfolded.
std::optional<IcalTask> sameAsTask(const IcalTask &task, const QByteArray &calendar,
                                   const QList<IcalNamedLine> &own);
// The kept task of task.calendar as the writer compares it with the task: sameAsTask where it
// is sure, else as IcalReader reads it in Resource mode (none when that finds no task); error
// says why the text could not be read at all.
std::optional<IcalTask> read(const IcalTask &task, const QList<IcalNamedLine> &own, QString &error);

} // namespace IcalKept
