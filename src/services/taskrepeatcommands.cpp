// The window's commands on repeating tasks: part of TaskCommands.
#include "taskcommands.h"

#include "tasklistcontext.h"
#include "tasklistreader.h"

#include <QTimeZone>

namespace {

constexpr auto kWindow = TaskStore::Origin::Window;

} // namespace

// The store moves the task on; what that does to the counts and the names is known here.
std::optional<bool> TaskCommands::completeOccurrence(qint64 id, const QString &name,
                                                     const QDateTime &due)
{
    const qint64 userId = m_context->userId();
    qint64 offset = 0;
    const std::optional<Recurrence::Rule> rule = m_store->repeatOf(userId, id, &offset);
    if (!rule || !rule->repeats() || !due.isValid() || name.isEmpty())
        return std::nullopt;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (!Recurrence::complete(*rule, due, due.addSecs(-offset), now).repeats)
        return std::nullopt; // the last occurrence: done as any other task

    const TaskState old = m_counter->taskState(id);
    CountChange change;
    addChange(change, old, -1);
    addChange(change, TaskState { true, 0, matchesFilters(name, 0) }, +1);
    addChange(change, TaskState { true, 1, matchesFilters(name, 1) }, +1);
    return runCommand(
            [&] { return m_store->completeOccurrence(userId, id, name, due, now, kWindow); }, true,
            change,
            [&](TaskNameIndex &names, int, qint64 insertedId) {
                const qint64 place = insertedId > 0 ? m_names->placeInList(insertedId) : -1;
                if (place < 0 || !QStringView(name).isValidUtf16() || !names.update(id, name, 0))
                    return false;
                names.insert(place, insertedId, name, 1);
                return true;
            });
}

bool TaskCommands::setRepeat(qint64 id, const Recurrence::Rule &rule)
{
    if (!m_context->ready() || !TaskListContext::validId(id))
        return false;
    if (rule.repeats() && !Recurrence::isValid(rule.rrule))
        return false;
    // A rule from a server keeps its zone and its start before the due time.
    qint64 offset = 0;
    const std::optional<Recurrence::Rule> old = m_store->repeatOf(m_context->userId(), id, &offset);
    Recurrence::Rule stored = rule;
    stored.zone = old && !old->zone.isEmpty() ? old->zone : QTimeZone::systemTimeZoneId();
    if (!old && !rule.repeats())
        return true;
    const bool done = m_store->storeRepeat(m_context->userId(), id, stored, offset, kWindow);
    if (done)
        m_reader->loadPage(m_reader->currentPage());
    return done;
}
