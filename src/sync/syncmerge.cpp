#include "syncmerge.h"

#include <tuple>
#include <utility>

namespace SyncMerge {

namespace {

// Picks one field; true when it was changed on both sides to different values.
template<typename T>
bool pick(const T *base, const T &here, const T &there, bool thereIsLater, T &merged)
{
    merged = here;
    if (here == there)
        return false;
    const bool hereChanged = !base || !(here == *base);
    const bool thereChanged = !base || !(there == *base);
    if (hereChanged && thereChanged) {
        merged = thereIsLater ? there : here;
        return true;
    }
    merged = thereChanged ? there : here;
    return false;
}

bool sameDue(const QDateTime &a, const QDateTime &b)
{
    return a.isValid() == b.isValid()
           && (!a.isValid() || a.toSecsSinceEpoch() == b.toSecsSinceEpoch());
}

} // namespace

QString copyName(const QString &name)
{
    return QStringLiteral("%1 (conflicting copy)").arg(name);
}

Result merge(const TaskFields *base, const TaskFields &here, const TaskFields &there,
             bool thereIsLater)
{
    Result result;
    const bool nameLost = pick(base ? &base->name : nullptr, here.name, there.name, thereIsLater,
                               result.merged.name);
    pick(base ? &base->done : nullptr, here.done, there.done, thereIsLater, result.merged.done);
    // Due times compare by the second, as they are stored.
    const bool dueChangedHere = !base || !sameDue(here.due, base->due);
    const bool dueChangedThere = !base || !sameDue(there.due, base->due);
    bool dueLost = false;
    if (sameDue(here.due, there.due) || !dueChangedThere) {
        result.merged.due = here.due;
    } else if (!dueChangedHere) {
        result.merged.due = there.due;
    } else {
        result.merged.due = thereIsLater ? there.due : here.due;
        dueLost = true;
    }
    // A Done mark alone is not typed text: the later one stands without a copy.
    if (nameLost || dueLost) {
        result.keepCopy = true;
        result.copy = thereIsLater ? here : there;
        result.copy.name = copyName(result.copy.name);
    }
    return result;
}

Result merge(const Version *base, const Version &here, const Version &there, bool thereIsLater)
{
    const TaskDetails *baseDetails = base ? &base->details : nullptr;
    // Without a common version, notes on one side only are no clash: they are taken.
    const bool oneSided = here.details.notes.isEmpty() || there.details.notes.isEmpty();
    const bool notesClash = here.details.notes != there.details.notes
                            && (!base ? !oneSided
                                      : here.details.notes != base->details.notes
                                                && there.details.notes != base->details.notes);
    if (notesClash)
        thereIsLater = false;
    Result result = merge(base ? &base->fields : nullptr, here.fields, there.fields, thereIsLater);
    TaskDetails &merged = result.mergedDetails;
    pick(baseDetails ? &baseDetails->notes : nullptr, here.details.notes, there.details.notes,
         thereIsLater, merged.notes);
    if (!base && oneSided)
        merged.notes = here.details.notes + there.details.notes;
    // A priority is its level and the value received with it, which go together.
    const std::pair<int, int> basePriority =
            base ? std::pair(baseDetails->priority, baseDetails->priorityRaw) : std::pair(0, 0);
    std::pair<int, int> priority;
    pick(base ? &basePriority : nullptr, std::pair(here.details.priority, here.details.priorityRaw),
         std::pair(there.details.priority, there.details.priorityRaw), thereIsLater, priority);
    std::tie(merged.priority, merged.priorityRaw) = priority;
    pick(baseDetails ? &baseDetails->tags : nullptr, here.details.tags, there.details.tags,
         thereIsLater, merged.tags);
    if (notesClash && !result.keepCopy) {
        result.keepCopy = true;
        result.copy = there.fields;
        result.copy.name = copyName(there.fields.name);
    }
    if (result.keepCopy)
        result.copyDetails = thereIsLater ? here.details : there.details;
    return result;
}

} // namespace SyncMerge
