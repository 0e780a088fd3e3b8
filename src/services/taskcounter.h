#pragma once

#include "taskcountcache.h"

#include <QtGlobal>

struct TaskListContext;

// The counting questions of the task list: the account's three counters, the number of tasks
// matching the filters, the state of one task as the filters see it and the place of a task in
// the list. Answers read under a stamp are kept and reused while it stays the same.
class TaskCounter
{
public:
    // A task as the filters see it; active is 1 or 0, or -1 for any other stored value.
    struct TaskState
    {
        bool exists = false;
        int active = -1;
        bool matches = false;
        // Another process holds the file locked: a command would fail the same way.
        bool busy = false;
    };

    explicit TaskCounter(TaskListContext *context);

    // The counters last read.
    const TaskCounts &counts() const { return m_counts; }

    // Reads the three counters; with a stamp, counters read under the same stamp are taken as
    // they are.
    bool readCounters(qint64 userId, const DataStamp *stamp, bool *busy);
    // The number of tasks matching the filters, counted on the trigram index when viaTrigram.
    int countMatching(qint64 userId, bool viaTrigram, bool *ok);
    // The matching count kept for this stamp and the filters in use, or nullptr.
    const TaskCounts *keptMatching(const DataStamp &stamp, qint64 userId) const;
    // Keeps the matching count under stamp when it is known, else forgets any.
    void keepMatching(const DataStamp *stamp, qint64 userId, bool known, int matching);
    // Whether the trigram index can be used under this stamp.
    bool trigramUsable(const DataStamp &stamp);

    // A write of this program, from before to after, did this to the counters and, when
    // matching is given, to the matching count.
    void adjust(const DataStamp &before, const DataStamp &after, qint64 userId,
                const TaskCounts &counters, const int *matching);

    TaskState taskState(qint64 id);
    // The page of the list, as filtered now, that holds task id; 0 when it holds no such task.
    int pageOfTask(qint64 id);
    // pageOfTask in the "due soonest" order.
    int pageInSoonest(qint64 id);
    int pageInPriority(qint64 id);

private:
    TaskListContext *m_context = nullptr;
    TaskCounts m_counts;
    TaskCountCache m_counters;
    TaskCountCache m_matching;
    // Whether the trigram index can be used, for the schema version it was looked up at.
    qint64 m_trigramSchema = -1;
    bool m_trigram = false;
};
