#include "taskcommands.h"

#include "tasklistcontext.h"
#include "tasklistreader.h"
#include "tasksql.h"

#include <QSqlQuery>
#include <QVariant>

namespace {

constexpr auto kWindow = TaskStore::Origin::Window;

} // namespace

TaskCommands::TaskCommands(TaskListContext *context, TaskStore *store, TaskCounter *counter,
                           TaskNameSearch *names, TaskListReader *reader)
    : m_context(context)
    , m_store(store)
    , m_counter(counter)
    , m_names(names)
    , m_reader(reader)
{
}

// Whether a task with this name and Done flag is among the matching rows, by SQLite's LIKE.
bool TaskCommands::matchesFilters(const QString &name, int active)
{
    if (m_context->filterActive != -1 && active != m_context->filterActive)
        return false;
    if (m_context->filterName.isEmpty())
        return true;
    QSqlQuery &query = m_context->statement(TaskSql::likeMatch());
    query.bindValue(QStringLiteral(":value"), name);
    query.bindValue(QStringLiteral(":name"), m_context->namePattern());
    const bool matches = query.exec() && query.next() && query.value(0).toBool();
    query.finish();
    return matches;
}

void TaskCommands::addChange(CountChange &change, const TaskState &task, int sign) const
{
    if (!task.exists)
        return;
    change.counters.total += sign;
    if (task.active == 1)
        change.counters.active += sign;
    else if (task.active == 0)
        change.counters.inactive += sign;
    if (task.matches)
        change.matching += sign;
}

// A command succeeds when its statement executes (and, for one aimed at a task, changes that
// row); the current page is reloaded after every executed statement, so that the list shows
// what is really there. Counts read just before the command, with nobody else writing in
// between, take what the command did instead of being read again.
bool TaskCommands::runCommand(const std::function<TaskStore::Written()> &write, bool mustChangeRow,
                              const CountChange &change,
                              const TaskNameSearch::NameChange &nameChange)
{
    const qint64 userId = m_context->userId();
    DataStamp before;
    bool busy = false;
    const bool stamped = m_context->currentStamp(before, &busy);
    // A file another process holds locked refuses the command as it refused the read: the
    // command is not tried, so that it does not wait a second time. Nor is it when the read
    // failed for a reason SQLite did not call a lock.
    m_fileInUse = busy;
    if (busy || !stamped) {
        qCWarning(lcTasks) << "the database is locked or unreadable; the task command was not run";
        return false;
    }

    const TaskStore::Written written = write();
    if (!written.ok) {
        qCWarning(lcTasks) << "task command failed:" << m_store->lastError();
        m_fileInUse = written.busy;
        return false;
    }
    const int affected = written.affected;
    const bool changed = affected > 0;

    DataStamp after;
    if (stamped && m_context->currentStamp(after, &busy) && after.dataVersion == before.dataVersion
        && after.schemaVersion == before.schemaVersion) {
        TaskCounts counters = change.counters;
        if (change.perDoneRowRemoved)
            counters = TaskCounts { -affected, -affected, 0 };
        // Whether a task carries the filter's tag is not looked up: the count is read again.
        const bool matchingKnown = change.matchingKnown && m_context->filterTag.isEmpty();
        m_counter->adjust(before, after, userId, counters,
                          matchingKnown ? &change.matching : nullptr);
        m_names->follow(before, after, userId, affected, written.insertedId, nameChange);
    }
    m_reader->loadPage(m_reader->currentPage());
    return mustChangeRow ? changed : true;
}

bool TaskCommands::createTask(const QString &name, const QDateTime &expireAt, bool active)
{
    if (!m_context->ready())
        return false;
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return false;

    CountChange change;
    addChange(change, TaskState { true, int(active), matchesFilters(trimmed, int(active)) }, +1);
    const qint64 userId = m_context->userId();
    const int flag = active ? 1 : 0;
    m_lastCreatedId = 0;
    return runCommand(
            [&] {
                const TaskStore::Written written =
                        m_store->insertTask(userId, { trimmed, active, expireAt }, kWindow);
                m_lastCreatedId = written.insertedId;
                return written;
            },
            false, change,
            [&](TaskNameIndex &names, int, qint64 insertedId) {
                const qint64 place = insertedId > 0 ? m_names->placeInList(insertedId) : -1;
                if (place < 0 || !QStringView(trimmed).isValidUtf16())
                    return false;
                names.insert(place, insertedId, trimmed, flag);
                return true;
            });
}

bool TaskCommands::updateTask(qint64 id, const QString &name, bool active,
                              const QDateTime &expireAt)
{
    if (!m_context->ready() || !TaskListContext::validId(id))
        return false;

    const QString trimmed = name.trimmed();
    const TaskState old = m_counter->taskState(id);
    m_fileInUse = old.busy;
    if (old.busy)
        return false;
    if (active && old.exists && old.active == 0) {
        if (const std::optional<bool> moved = completeOccurrence(id, trimmed, expireAt))
            return *moved;
    }
    CountChange change;
    addChange(change, old, -1);
    if (old.exists)
        addChange(change, TaskState { true, int(active), matchesFilters(trimmed, int(active)) },
                  +1);
    const qint64 userId = m_context->userId();
    return runCommand(
            [&] {
                return m_store->updateTask(userId, id, { trimmed, active, expireAt }, kWindow);
            },
            true, change,
            [&](TaskNameIndex &names, int affected, qint64) {
                return affected == 0
                       || (QStringView(trimmed).isValidUtf16()
                           && names.update(id, trimmed, active ? 1 : 0));
            });
}

bool TaskCommands::deleteTask(qint64 id)
{
    if (!m_context->ready() || !TaskListContext::validId(id))
        return false;

    const TaskState task = m_counter->taskState(id);
    m_fileInUse = task.busy;
    if (task.busy)
        return false;
    CountChange change;
    addChange(change, task, -1);
    const qint64 userId = m_context->userId();
    return runCommand([&] { return m_store->deleteTask(userId, id, kWindow); }, true, change,
                      [id](TaskNameIndex &names, int affected, qint64) {
                          return affected == 0 || names.remove(id);
                      });
}

bool TaskCommands::deleteAllInactive()
{
    if (!m_context->ready())
        return false;

    // Every Done task goes: a matching count of pending tasks alone stays as it is.
    CountChange change;
    change.perDoneRowRemoved = true;
    change.matchingKnown = m_context->filterActive == 0;
    const qint64 userId = m_context->userId();
    return runCommand([&] { return m_store->deleteDoneTasks(userId, kWindow); }, false, change,
                      [](TaskNameIndex &names, int, qint64) {
                          names.removeDone();
                          return true;
                      });
}
