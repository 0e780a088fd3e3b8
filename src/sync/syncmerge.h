#pragma once

#include "icaltask.h"

// The merge of a task changed here and on the server since the version both last agreed on.
// A field changed on one side only takes that side's value; a field changed on both sides to
// different values takes the later change, and the other side's version of the task is kept as
// a copy when a typed field (name or due time) lost. Without a common version (a task matched by
// its UID for the first time) every differing field counts as changed on both sides. Properties
// the program does not show are merged by the codec, which writes the owned fields into the
// server's text.
namespace SyncMerge {

struct Result
{
    TaskFields merged;
    bool keepCopy = false;
    TaskFields copy; // the losing side's version, named as a copy
    TaskDetails mergedDetails;
    TaskDetails copyDetails;
};

Result merge(const TaskFields *base, const TaskFields &here, const TaskFields &there,
             bool thereIsLater);

// A task's version on each side, with its notes, priority and tags.
struct Version
{
    TaskFields fields;
    TaskDetails details;
};

// The same with the details, which merge as the fields do. Notes changed on both sides to
// different texts are never dropped: the version here stands whole, as if it were the later, and
// the server's is kept as a copy.
Result merge(const Version *base, const Version &here, const Version &there, bool thereIsLater);

// The name a losing version is kept under.
QString copyName(const QString &name);

} // namespace SyncMerge
