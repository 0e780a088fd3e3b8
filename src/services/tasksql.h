#pragma once

#include <QString>

// The statements that read the tasks table, as the task list and the reminders run them (the
// task store holds those that write it). A list statement takes
// " AND name LIKE :name" when filtered by name and " AND active = :active" when filtered by
// the Done flag.
namespace TaskSql {

// The filters' conditions alone, each starting with " AND ".
QString filterSql(bool byName, bool byDone, bool byTag);
QString stamp();
QString counters();
// byTag adds " AND id IN (...)": the tasks that carry the tag :tag.
QString countMatching(bool byName, bool byDone, bool byTag = false);
QString pageRows(bool byName, bool byDone, bool byTag = false);
// The same rows read from the other end of the list (oldest first).
QString pageRowsFromEnd(bool byName, bool byDone, bool byTag = false);
// The page of rows next to the task (:created, :id): older ones newest first, or newer ones
// oldest first.
QString pageRowsBeside(bool byName, bool byDone, bool older, bool byTag = false);
// The list in the "due soonest" order: by due time, tasks without one last, ties by id; a sixth
// column gives the order's key. From the end, the order reversed.
QString pageRowsSoonest(bool byName, bool byDone, bool byTag, bool fromEnd);
// The page of rows after (later) or before the task (:due, :id) in that order, in the order
// walked.
QString pageRowsSoonestBeside(bool byName, bool byDone, bool byTag, bool later);
// The number of matching tasks before the task (:due, :id) in that order, and the key of :id.
QString countBeforeSoonest(bool byName, bool byDone);
QString dueKeyOf();
// 1 when the account has tasks without a creation time (they come last in the list).
QString hasUndated();
// 1 when the trigram index is full and its three triggers are there.
QString trigramReady();
// The matching tasks by the trigram index, counting at most :cap.
QString countByTrigram(bool byDone);
// The matching rows, looked up by the trigram index and sorted as the list is.
QString pageRowsByTrigram(bool byDone, bool fromEnd);
// The account's tasks in the list's order, :lim at a time, for the in-memory name index: id,
// the name's bytes as LIKE reads them, 0 where LIKE matches nothing, the Done flag as 1, 0 or
// -1 for any other value, the creation time. The first slice, the slice after the task (:created,
// :id), and the tasks without a creation time (which come last) before task :id.
QString nameIndexFirst();
QString nameIndexAfter();
QString nameIndexUndated();
// 1 when the index that reads the list in its order is there.
QString hasListIndex();
// The number of the account's tasks before task :id in the list.
QString placeInList();
// The creation time of task :id.
QString createdAt();
// The number of matching tasks before task :id (created :created, or without a creation time)
// in the list.
QString countBefore(bool byName, bool byDone, bool undated);
// The name and due time (expire_at) of task :id of :uid.
QString taskRow();
// The row of task :id as a page shows it.
QString rowById();
// The Done flag (1, 0, or -1 for any other value) of the task :id of :uid, and whether its
// name matches :name by LIKE.
QString taskState(bool byName);
// Whether :value matches the pattern :name by LIKE.
QString likeMatch();
QString firstDue();
QString dueBetween();
// The reminder check, by the task's lead (task_reminders): the pending tasks of :uid due from
// :now to :lim that follow the account's lead; the next lead after :after that a task of :uid
// has; the pending tasks due from :now to :lim whose lead is :lead.
QString dueAtAccountLead();
QString nextReminderLead();
QString dueAtLead();

} // namespace TaskSql
