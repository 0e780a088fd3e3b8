#pragma once

#include "syncstore.h"

#include <QVariant>

#include <optional>

// A synced task's notes, priority and tags on both sides: those here are the task's own (its
// task_details row), or, without one, those of the text it was last synced or imported with;
// those the server last took or gave are recorded with the item, or, for an item recorded by a
// release that did not keep them, read from the text the server last gave.
namespace SyncDetails {

QString encode(const TaskDetails &details);
std::optional<TaskDetails> decode(const QVariant &value);
// The details of an iCalendar text, as an import reads them; none for a text without a task.
TaskDetails ofText(const QString &ical);
// What the server last acknowledged of the task's details; read from its text once, if needed.
const TaskDetails &acknowledged(SyncItem &item);
// The details here.
TaskDetails local(SyncItem &item);
// Whether the task here differs from what the server last acknowledged.
bool changedHere(SyncItem &item);

} // namespace SyncDetails
