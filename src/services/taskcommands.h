#pragma once

#include "taskcounter.h"
#include "tasknamesearch.h"
#include "taskstore.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

class TaskListReader;
struct TaskListContext;

// The window's four commands on the signed-in account's tasks, written through the task store.
// What a command does to the counters, the matching count and the names held is known before
// it runs, so that none of them needs to be read again afterwards.
class TaskCommands
{
public:
    TaskCommands(TaskListContext *context, TaskStore *store, TaskCounter *counter,
                 TaskNameSearch *names, TaskListReader *reader);

    bool createTask(const QString &name, const QDateTime &expireAt, bool active);
    bool updateTask(qint64 id, const QString &name, bool active, const QDateTime &expireAt);
    bool deleteTask(qint64 id);
    bool deleteAllInactive();
    // The rule of a repeating task (taskrepeatcommands.cpp); an empty rule ends the repeating.
    bool setRepeat(qint64 id, const Recurrence::Rule &rule);
    // The task the last createTask stored; 0 when it stored none.
    qint64 lastCreatedId() const { return m_lastCreatedId; }
    // Whether the last command was refused because another program holds the database file.
    bool fileInUse() const { return m_fileInUse; }

private:
    // What a command does to the counts, known before it runs.
    struct CountChange
    {
        TaskCounts counters;
        int matching = 0;
        bool matchingKnown = true;
        // Each row the command affects is a Done task removed (delete-all-Done).
        bool perDoneRowRemoved = false;
    };
    using TaskState = TaskCounter::TaskState;

    bool runCommand(const std::function<TaskStore::Written()> &write, bool mustChangeRow,
                    const CountChange &change, const TaskNameSearch::NameChange &nameChange);
    bool matchesFilters(const QString &name, int active);
    void addChange(CountChange &change, const TaskState &task, int sign) const;
    // Marking a repeating task Done: it moves to its next occurrence, and the occurrence done
    // stays as a Done task of its own. Unset when the task has no occurrence left to move to.
    std::optional<bool> completeOccurrence(qint64 id, const QString &name, const QDateTime &due);

    TaskListContext *m_context = nullptr;
    TaskStore *m_store = nullptr;
    TaskCounter *m_counter = nullptr;
    TaskNameSearch *m_names = nullptr;
    TaskListReader *m_reader = nullptr;
    qint64 m_lastCreatedId = 0;
    bool m_fileInUse = false;
};
