// Each task's own reminder as the task dialog reads and sets it: part of TaskService.
#include "taskservice.h"

int TaskService::reminderLead(qint64 id)
{
    if (!m_context.ready() || !TaskListContext::validId(id))
        return kAccountLead;
    return m_store->reminderOf(m_context.userId(), id).value_or(kAccountLead);
}

// Any lead below none reads as the account's; the reminder check looks again, as after an edit
// of the due time.
bool TaskService::setReminderLead(qint64 id, int minutes)
{
    if (!m_context.ready() || !TaskListContext::validId(id))
        return false;
    const std::optional<int> lead =
            minutes >= TaskStore::kNoReminder ? std::optional<int>(minutes) : std::nullopt;
    if (m_store->reminderOf(m_context.userId(), id) == lead)
        return true;
    if (!m_store->storeReminder(m_context.userId(), id, lead, TaskStore::Origin::Window))
        return false;
    emit dueTimesChanged();
    return true;
}
