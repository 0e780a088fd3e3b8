#include "taskservice.h"

#include "storedtime.h"
#include "taskdetailssql.h"
#include "tasksql.h"

#include <QSqlQuery>
#include <QTimer>

#include <algorithm>

namespace {

const auto kPageSizeKey = QStringLiteral("taskPageSize");

} // namespace

TaskService::TaskService(DbManager *db, AuthService *auth, TaskTableModel *model, QObject *parent)
    : TaskService(db, auth, model, nullptr, parent)
{
}

TaskService::TaskService(DbManager *db, AuthService *auth, TaskTableModel *model, TaskStore *store,
                         QObject *parent)
    : QObject(parent)
    , m_ownStore(store ? nullptr : std::make_unique<TaskStore>(db))
    , m_store(store ? store : m_ownStore.get())
    , m_settings(QStringLiteral("Brellhaven"), QStringLiteral("TarvikQtQml"))
    , m_counter(&m_context)
    , m_names(&m_context)
    , m_reader(&m_context, &m_counter, &m_names, model)
    , m_commands(&m_context, m_store, &m_counter, &m_names, &m_reader)
    , m_due(db, auth)
    , m_undo(m_store)
{
    m_context.db = db;
    m_context.auth = auth;
    m_context.pageSize = std::max(m_settings.value(kPageSizeKey, m_context.pageSize).toInt(), 1);
    connect(&m_reader, &TaskListReader::countsChanged, this, &TaskService::countsChanged);
    connect(&m_reader, &TaskListReader::totalPagesChanged, this, &TaskService::totalPagesChanged);
    connect(&m_reader, &TaskListReader::currentPageChanged, this, &TaskService::currentPageChanged);
    connect(m_store, &TaskStore::tasksChanged, this,
            [this](const TaskChanges &, TaskStore::Origin origin) { onTasksChanged(origin); });
}

// The window's commands follow what they wrote themselves; what the sync or an import wrote is
// read again, counters and names included (their stamps no longer hold).
void TaskService::onTasksChanged(TaskStore::Origin origin)
{
    if (origin != TaskStore::Origin::Window)
        loadPage(currentPage());
}

void TaskService::setPageSize(int size)
{
    size = std::max(size, 1);
    if (size == m_context.pageSize)
        return;
    m_context.pageSize = size;
    m_settings.setValue(kPageSizeKey, m_context.pageSize);
    emit pageSizeChanged();
}

void TaskService::setFilterName(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed == m_context.filterName)
        return;
    m_context.filterName = trimmed;
    emit filterNameChanged();
    loadPage(1);
}

void TaskService::setFilterActive(int value)
{
    if (value != -1 && value != 0 && value != 1)
        value = -1;
    if (value == m_context.filterActive)
        return;
    m_context.filterActive = value;
    emit filterActiveChanged();
    loadPage(1);
}

void TaskService::setFilterTag(const QString &tag)
{
    const QString trimmed = tag.trimmed();
    if (trimmed == m_context.filterTag)
        return;
    m_context.filterTag = trimmed;
    emit filterTagChanged();
    loadPage(1);
}

void TaskService::setSortOrder(int order)
{
    const auto value = order == 1   ? TaskListContext::Order::DueSoonest
                       : order == 2 ? TaskListContext::Order::Priority
                                    : TaskListContext::Order::Newest;
    if (value == m_context.order)
        return;
    m_context.order = value;
    emit sortOrderChanged();
    loadPage(1);
}

void TaskService::clearFilters()
{
    if (!m_context.filterTag.isEmpty()) {
        m_context.filterTag.clear();
        emit filterTagChanged();
    }
    if (!m_context.filterName.isEmpty()) {
        m_context.filterName.clear();
        emit filterNameChanged();
    }
    if (m_context.filterActive != -1) {
        m_context.filterActive = -1;
        emit filterActiveChanged();
    }
}

bool TaskService::createTask(const QString &name, const QDateTime &expireAt, bool active)
{
    m_beforeRule = {};
    const bool saved = noteFileUse(m_commands.createTask(name, expireAt, active));
    if (saved)
        emit dueTimesChanged();
    return saved;
}

TaskSnapshot TaskService::snapshot(const QList<qint64> &ids, bool doneOnly)
{
    return m_context.ready() ? m_store->snapshot(m_context.userId(), ids, doneOnly)
                             : TaskSnapshot();
}

bool TaskService::refusedAsBusy(const TaskSnapshot &before)
{
    if (!before.busy)
        return false;
    if (!m_fileInUse) {
        m_fileInUse = true;
        emit fileInUseChanged();
    }
    return true;
}

// A change of the Done flag alone reads as such in the undo bar; any other edit as a save.
bool TaskService::updateTask(qint64 id, const QString &name, bool active, const QDateTime &expireAt)
{
    const TaskSnapshot before = m_beforeRule.taskIds() == QList<qint64> { id }
                                        ? std::exchange(m_beforeRule, {})
                                        : snapshot({ id });
    m_beforeRule = {};
    if (refusedAsBusy(before))
        return false;
    QList<qint64> created;
    const auto listening = connect(m_store, &TaskStore::tasksChanged, this,
                                   [&created](const TaskChanges &changes, TaskStore::Origin) {
                                       created += changes.created;
                                   });
    const bool saved = noteFileUse(m_commands.updateTask(id, name, active, expireAt));
    disconnect(listening);
    if (saved)
        emit dueTimesChanged();
    if (saved && before.taskCount() == 1) {
        const QString trimmed = name.trimmed();
        const bool wasDone = before.taskValue(0, QStringLiteral("active")).toInt() == 1;
        const bool sameFields = before.taskValue(0, QStringLiteral("name")).toString() == trimmed
                                && before.taskValue(0, QStringLiteral("expire_at_epoch"))
                                           == StoredTime::dueEpoch(expireAt);
        if (sameFields && wasDone != active)
            m_undo.recordChange((active ? QStringLiteral("Marked '%1' done.")
                                        : QStringLiteral("Marked '%1' not done."))
                                        .arg(trimmed),
                                before, created);
        else
            m_undo.recordChange(QStringLiteral("Saved '%1'.").arg(trimmed), before, created);
    }
    return saved;
}

bool TaskService::setRepeat(qint64 id, const QString &rrule, bool fromCompletion)
{
    m_beforeRule = snapshot({ id });
    QTimer::singleShot(0, this, [this] { m_beforeRule = {}; });
    return m_commands.setRepeat(id, { rrule.toUtf8(), fromCompletion, {}, {} });
}

bool TaskService::deleteTask(qint64 id)
{
    m_beforeRule = {};
    const TaskSnapshot before = TaskListContext::validId(id) ? snapshot({ id }) : TaskSnapshot();
    if (refusedAsBusy(before))
        return false;
    const bool deleted = noteFileUse(m_commands.deleteTask(id));
    if (deleted && before.taskCount() == 1)
        m_undo.recordDeletion(QStringLiteral("Deleted '%1'.")
                                      .arg(before.taskValue(0, QStringLiteral("name")).toString()),
                              before);
    return deleted;
}

bool TaskService::deleteAllInactive()
{
    m_beforeRule = {};
    const TaskSnapshot before = snapshot({}, true);
    if (refusedAsBusy(before))
        return false;
    const bool deleted = noteFileUse(m_commands.deleteAllInactive());
    const int count = before.taskCount();
    if (deleted && count > 0)
        m_undo.recordDeletion(count == 1 ? QStringLiteral("Deleted 1 done task.")
                                         : QStringLiteral("Deleted %1 done tasks.").arg(count),
                              before);
    return deleted;
}

// Read again as after a write by someone else: the counts and the names held follow.
bool TaskService::undo()
{
    m_beforeRule = {};
    if (!m_context.ready())
        return false;
    const bool undone = m_undo.undoShowing();
    loadPage(currentPage());
    if (undone)
        emit dueTimesChanged();
    return undone;
}

bool TaskService::setTaskDone(qint64 id, bool done)
{
    if (!m_context.ready() || !TaskListContext::validId(id))
        return false;
    QSqlQuery &query = m_context.statement(TaskSql::taskRow());
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":uid"), m_context.userId());
    const bool found = query.exec() && query.next();
    const QString name = found ? query.value(0).toString() : QString();
    const QDateTime due = found ? StoredTime::read(query.value(1)) : QDateTime();
    query.finish();
    return found && updateTask(id, name, done, due);
}

QVariantMap TaskService::taskDetails(qint64 id)
{
    if (!m_context.ready())
        return {};
    // A task synced or imported before details were kept beside it has them in its text only.
    const TaskDetails details = m_store->detailsOf(m_context.userId(), id);
    return { { QStringLiteral("notes"), details.notes },
             { QStringLiteral("priority"), details.priority },
             { QStringLiteral("tags"), details.tags.join(QStringLiteral(", ")) } };
}

// A priority received that this program does not write stays until the priority is changed.
bool TaskService::saveTaskDetails(qint64 id, const QString &notes, int priority,
                                  const QString &tags)
{
    if (!m_context.ready() || !TaskListContext::validId(id))
        return false;
    const TaskDetails before = m_store->detailsOf(m_context.userId(), id);
    TaskDetails details;
    details.notes = notes;
    details.priority = qBound(0, priority, int(TaskDetails::High));
    details.priorityRaw = details.priority == before.priority ? before.priorityRaw : -1;
    details.tags = TaskDetails::parseTags(tags);
    // Unchanged details are not written: a task whose kept text has details not shown here
    // keeps them.
    if (details.notes == before.notes && details.priority == before.priority
        && details.tags == before.tags)
        return true;
    if (!m_store->storeDetails(m_context.userId(), id, details, TaskStore::Origin::Window))
        return false;
    loadPage(currentPage());
    return true;
}

QStringList TaskService::tagNames()
{
    QStringList tags;
    if (!m_context.ready())
        return tags;
    QSqlQuery &query = m_context.statement(TaskDetailsSql::accountTags());
    query.bindValue(QStringLiteral(":uid"), m_context.userId());
    if (query.exec()) {
        while (query.next())
            tags.append(query.value(0).toString());
    }
    query.finish();
    return tags;
}
