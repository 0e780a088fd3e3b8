#pragma once

#include "duetask.h"
#include "duetasks.h"
#include "taskcommands.h"
#include "taskcounter.h"
#include "tasklistcontext.h"
#include "tasklistreader.h"
#include "tasknamesearch.h"
#include "taskstore.h"
#include "undojournal.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>

class AuthService;
class DbManager;
class TaskTableModel;

// The signed-in user's tasks as the window sees them: the paged, filtered list with its
// counters, and the commands that change it. A front over its parts: the list's reads
// (TaskListReader, TaskCounter), the names held for searching (TaskNameSearch), the commands
// (TaskCommands) and the due tasks (DueTasks). Its commands write through the task store, which
// the sync and the import write through too; what those write is read again when the store
// announces it.
class TaskService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int pageSize READ pageSize WRITE setPageSize NOTIFY pageSizeChanged)
    Q_PROPERTY(int currentPage READ currentPage NOTIFY currentPageChanged)
    Q_PROPERTY(int totalPages READ totalPages NOTIFY totalPagesChanged)
    Q_PROPERTY(QString filterName READ filterName WRITE setFilterName NOTIFY filterNameChanged)
    Q_PROPERTY(int filterActive READ filterActive WRITE setFilterActive NOTIFY filterActiveChanged)
    Q_PROPERTY(int totalCount READ totalCount NOTIFY countsChanged)
    Q_PROPERTY(int activeCount READ activeCount NOTIFY countsChanged)
    Q_PROPERTY(int inactiveCount READ inactiveCount NOTIFY countsChanged)
    Q_PROPERTY(QString filterTag READ filterTag WRITE setFilterTag NOTIFY filterTagChanged)
    // 0: newest first, 1: due soonest (tasks without a due time last), 2: priority (high first,
    // tasks without one last).
    Q_PROPERTY(int sortOrder READ sortOrder WRITE setSortOrder NOTIFY sortOrderChanged)
    Q_PROPERTY(bool fileInUse READ fileInUse NOTIFY fileInUseChanged)

public:
    // Writes through a task store of its own.
    explicit TaskService(DbManager *db, AuthService *auth, TaskTableModel *model,
                         QObject *parent = nullptr);
    // Writes through store, which the other writers of the tasks table share.
    TaskService(DbManager *db, AuthService *auth, TaskTableModel *model, TaskStore *store,
                QObject *parent = nullptr);

    int pageSize() const { return m_context.pageSize; }
    int currentPage() const { return m_reader.currentPage(); }
    int totalPages() const { return m_reader.totalPages(); }
    QString filterName() const { return m_context.filterName; }
    int filterActive() const { return m_context.filterActive; }
    int totalCount() const { return m_counter.counts().total; }
    int activeCount() const { return m_counter.counts().active; }
    int inactiveCount() const { return m_counter.counts().inactive; }
    // Whether the last command was refused because another program holds the database file.
    bool fileInUse() const { return m_fileInUse; }
    QString filterTag() const { return m_context.filterTag; }
    int sortOrder() const { return int(m_context.order); }

    void setPageSize(int size);
    void setFilterName(const QString &text);
    void setFilterActive(int value);
    void setFilterTag(const QString &tag);
    void setSortOrder(int order);
    // The filters back to their initial values, without loading a page.
    void clearFilters();

    // Every pending task of the signed-in user due within the next withinMinutes minutes.
    QList<DueTask> dueTasks(int withinMinutes) { return m_due.dueTasks(withinMinutes); }

    // An account with at least minimumTasks tasks has its names held in memory for searches,
    // read rowsPerSlice tasks at a time from the event loop after its list first loads, and
    // read again pauseMs after something else wrote while they were read.
    void setNameIndexLimits(int minimumTasks, int rowsPerSlice, int pauseMs)
    {
        m_names.setLimits(minimumTasks, rowsPerSlice, pauseMs);
    }
    bool nameIndexReady() const { return m_names.isReady(); }
    // Lets go of the names held of the account that signed out, and of its commands to undo.
    void forgetNames()
    {
        m_names.forget();
        m_undo.clear();
    }
    UndoJournal &undoJournal() { return m_undo; }

signals:
    void pageSizeChanged();
    void currentPageChanged();
    void totalPagesChanged();
    void filterNameChanged();
    void filterActiveChanged();
    void countsChanged();
    void fileInUseChanged();
    // A task was created or edited: its due time may be new.
    void dueTimesChanged();
    void filterTagChanged();
    void sortOrderChanged();

public:
    Q_INVOKABLE void loadPage(int page)
    {
        m_beforeRule = {};
        m_reader.loadPage(page);
    }
    Q_INVOKABLE bool createTask(const QString &name, const QDateTime &expireAt, bool active = true);
    Q_INVOKABLE bool updateTask(qint64 id, const QString &name, bool active,
                                const QDateTime &expireAt);
    // The window's calls: the due time as ISO 8601 text, read here so that text that is no
    // date-time saves the task without one (newer Qt versions refuse to pass such text to a
    // QDateTime parameter).
    Q_INVOKABLE bool createTask(const QString &name, const QString &expireAt, bool active = true)
    {
        return createTask(name, dueTimeFromText(expireAt), active);
    }
    Q_INVOKABLE bool updateTask(qint64 id, const QString &name, bool active,
                                const QString &expireAt)
    {
        return updateTask(id, name, active, dueTimeFromText(expireAt));
    }
    Q_INVOKABLE bool deleteTask(qint64 id);
    Q_INVOKABLE QVariantMap nextDueTask(int withinMinutes)
    {
        return m_due.nextDueTask(withinMinutes);
    }
    Q_INVOKABLE bool deleteAllInactive();
    // Undoes the command the undo bar shows; the list, its counts and the names follow.
    Q_INVOKABLE bool undo();
    // The rule of a repeating task: "rrule" (empty when it does not repeat), "fromCompletion",
    // and "text", the rule in words.
    Q_INVOKABLE QVariantMap repeatOf(qint64 id)
    {
        const std::optional<Recurrence::Rule> rule =
                m_context.ready() ? m_store->repeatOf(m_context.userId(), id) : std::nullopt;
        const QByteArray rrule = rule ? rule->rrule : QByteArray();
        return { { QStringLiteral("rrule"), QString::fromUtf8(rrule) },
                 { QStringLiteral("fromCompletion"), rule && rule->fromCompletion },
                 { QStringLiteral("text"), Recurrence::describe(rrule) } };
    }
    // Followed by the task's updateTask, whose undo takes the rule back too.
    Q_INVOKABLE bool setRepeat(qint64 id, const QString &rrule, bool fromCompletion);
    Q_INVOKABLE QString describeRepeat(const QString &rrule) const
    {
        return Recurrence::describe(rrule.toUtf8());
    }
    // The task the last createTask stored.
    Q_INVOKABLE qint64 lastCreatedId() const { return m_commands.lastCreatedId(); }
    // The page of the list, as filtered now, that holds task id; 0 when it holds no such task.
    Q_INVOKABLE int pageOfTask(qint64 id) { return m_counter.pageOfTask(id); }
    // Done or Pending in one action, the rest of the task as it is.
    Q_INVOKABLE bool setTaskDone(qint64 id, bool done);
    // The notes, priority (0 none to 3 high) and tags of task id: "notes", "priority", "tags"
    // (the tags as one comma-separated text).
    Q_INVOKABLE QVariantMap taskDetails(qint64 id);
    Q_INVOKABLE bool saveTaskDetails(qint64 id, const QString &notes, int priority,
                                     const QString &tags);
    // The account's tags, each once, in order.
    Q_INVOKABLE QStringList tagNames();
    // The task's own reminder (taskservicereminders.cpp): minutes before its due time, 0 at
    // the due time, -1 for none, or kAccountLead when it follows the account's lead time.
    static constexpr int kAccountLead = -2;
    Q_INVOKABLE int reminderLead(qint64 id);
    Q_INVOKABLE bool setReminderLead(qint64 id, int minutes);

private:
    static QDateTime dueTimeFromText(const QString &text)
    {
        return QDateTime::fromString(text, Qt::ISODateWithMs);
    }
    void onTasksChanged(TaskStore::Origin origin);
    // The signed-in account's tasks as they are now, for an undo.
    TaskSnapshot snapshot(const QList<qint64> &ids, bool doneOnly = false);
    // A file another program holds refuses a command at its first read, as the command would.
    bool refusedAsBusy(const TaskSnapshot &before);
    // Passes a command's result on, after telling whether the file was found in use.
    bool noteFileUse(bool result)
    {
        if (m_fileInUse != m_commands.fileInUse()) {
            m_fileInUse = m_commands.fileInUse();
            emit fileInUseChanged();
        }
        return result;
    }

    TaskListContext m_context;
    std::unique_ptr<TaskStore> m_ownStore;
    TaskStore *m_store = nullptr;
    QSettings m_settings;
    TaskCounter m_counter;
    TaskNameSearch m_names;
    TaskListReader m_reader;
    TaskCommands m_commands;
    DueTasks m_due;
    UndoJournal m_undo;
    // The task as it was before the rule its edit saves first, until the edit is saved: kept
    // for the one call that saves the dialog.
    TaskSnapshot m_beforeRule;
    bool m_fileInUse = false;
};
