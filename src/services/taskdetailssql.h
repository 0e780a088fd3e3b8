#pragma once

#include "taskdetails.h"
#include "taskrow.h"

#include <QList>
#include <QString>

class QSqlQuery;

// The statements on the notes, priority and tags of tasks (task_details, and task_tags, which
// holds each tag of a task as a row of its own, for the tag filter and the tag completion).
namespace TaskDetailsSql {

// Writes the details of task :id when it is a task of :uid: :notes, :priority, :raw, :tags.
QString store();
// Removes the details, and the tags, of task :id of :uid.
QString remove();
QString removeTags();
// Removes the details, and the tags, of the tasks of :uid that are gone.
QString removeOrphans();
QString removeOrphanTags();
// Adds the tag :tag to task :id of :uid.
QString storeTag();
// The details of task :id of :uid: notes, priority, priority_raw, tags.
QString forTask();
// The account's (:uid) tags, each once, in order.
QString accountTags();
// The list in the "priority" order: high, medium, low through the priority index, ties by
// task id, newest first; then the tasks without a priority newest first, as the default list.
// The two parts are each read up to :end (the page's offset and size); from the end, the
// order reversed.
QString pageRowsByPriority(bool byName, bool byDone, bool byTag, bool fromEnd);
// The page of rows after (later) or before the task :id in that order, in the order walked;
// the task has the priority :priority when edgeHasPriority, else it was created :created.
QString pageRowsByPriorityBeside(bool byName, bool byDone, bool byTag, bool later,
                                 bool edgeHasPriority);
// The priority of task :id (none without a row).
QString priorityOf();
// The number of matching tasks with a priority before the task (:priority, :id) in that order;
// with :priority 0, all of them.
QString countBeforeByPriority(bool byName, bool byDone, bool byTag);
// The number of matching tasks without a priority before the task (:created, :id) in that
// order; undated: a task without a creation time.
QString countBeforeWithoutPriority(bool byName, bool byDone, bool byTag, bool undated);
// Fills in the details of each row, looked up one by one with forTask().
void fillRows(QSqlQuery &query, qint64 userId, QList<TaskRow> &rows);
// The details as forTask() selects them, from the query's current row, starting at column first.
TaskDetails read(const QSqlQuery &query, int first = 0);

} // namespace TaskDetailsSql
