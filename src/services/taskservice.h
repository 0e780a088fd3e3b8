#pragma once

#include "duetask.h"
#include "statementcache.h"
#include "taskcountcache.h"
#include "tasknameindex.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <vector>

class AuthService;
class DbManager;
class QSqlQuery;
class TaskTableModel;
struct TaskRow;

// The signed-in user's tasks: the paged, filtered list with its counters, and the commands
// that change it. Only this class reads or writes the tasks table.
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
    Q_PROPERTY(bool fileInUse READ fileInUse NOTIFY fileInUseChanged)

public:
    // Ids above this are refused: QML holds ids as numbers, exact only up to here.
    static constexpr qint64 kLargestId = (qint64(1) << 53) - 1;

    explicit TaskService(DbManager *db, AuthService *auth, TaskTableModel *model,
                         QObject *parent = nullptr);

    int pageSize() const { return m_pageSize; }
    int currentPage() const { return m_currentPage; }
    int totalPages() const { return m_totalPages; }
    QString filterName() const { return m_filterName; }
    int filterActive() const { return m_filterActive; }
    int totalCount() const { return m_totalCount; }
    int activeCount() const { return m_activeCount; }
    int inactiveCount() const { return m_inactiveCount; }
    // Whether the last command was refused because another program holds the database file.
    bool fileInUse() const { return m_fileInUse; }

    void setPageSize(int size);
    void setFilterName(const QString &text);
    void setFilterActive(int value);
    // Both filters back to their initial values, without loading a page.
    void clearFilters();

    // Walks the pending tasks of the signed-in user due from fromEpoch to untilEpoch (seconds,
    // both included), earliest first (ties by id), until visit returns false.
    void visitDueTasks(qint64 fromEpoch, qint64 untilEpoch,
                       const std::function<bool(const DueTask &)> &visit);
    // Every such task due within the next withinMinutes minutes.
    QList<DueTask> dueTasks(int withinMinutes);

    // An account with at least minimumTasks tasks has its names held in memory for searches,
    // read rowsPerSlice tasks at a time from the event loop after its list first loads, and
    // read again pauseMs after something else wrote while they were read.
    void setNameIndexLimits(int minimumTasks, int rowsPerSlice, int pauseMs);
    bool nameIndexReady() const;
    // Lets go of the names held of the account that signed out.
    void forgetNames();

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

public:
    Q_INVOKABLE void loadPage(int page);
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
    Q_INVOKABLE QVariantMap nextDueTask(int withinMinutes);
    Q_INVOKABLE bool deleteAllInactive();
    // The page of the list, as filtered now, that holds task id; 0 when it holds no such task.
    Q_INVOKABLE int pageOfTask(qint64 id);

private:
    static QDateTime dueTimeFromText(const QString &text)
    {
        return QDateTime::fromString(text, Qt::ISODateWithMs);
    }
    // What a command does to the counts, known before it runs.
    struct CountChange
    {
        TaskCounts counters;
        int matching = 0;
        bool matchingKnown = true;
        // Each row the command affects is a Done task removed (delete-all-Done).
        bool perDoneRowRemoved = false;
    };
    // A task as the filters see it; active is 1 or 0, or -1 for any other stored value.
    struct TaskState
    {
        bool exists = false;
        int active = -1;
        bool matches = false;
        // Another process holds the file locked: the command would fail the same way.
        bool busy = false;
    };
    // The first and last rows of the page loaded last, from which the page before or after
    // it is read while nothing has changed.
    struct PageEdges
    {
        bool valid = false;
        DataStamp stamp;
        qint64 userId = -1;
        QString filterName;
        int filterActive = -1;
        int pageSize = 0;
        int page = 0;
        QVariant firstCreated;
        qint64 firstId = 0;
        QVariant lastCreated;
        qint64 lastId = 0;
    };

    // Reading the names into the index, a slice per turn of the event loop.
    struct NameFill
    {
        bool scheduled = false;
        bool started = false;
        bool undated = false;
        qint64 userId = -1;
        DataStamp stamp;
        QVariant created;
        qint64 id = 0;
    };
    // The places of the last search's matches in the index, while no entry has moved.
    struct NameMatches
    {
        bool valid = false;
        DataStamp stamp;
        quint64 generation = 0;
        qint64 userId = -1;
        QString filterName;
        int filterActive = -1;
        std::vector<quint32> places;
    };
    // What a command did to the names held, given the rows it changed and the id it inserted;
    // false when the index cannot follow.
    using NameChange = std::function<bool(TaskNameIndex &, int, qint64)>;

    bool ready() const;
    void setFileInUse(bool inUse)
    {
        if (inUse == m_fileInUse)
            return;
        m_fileInUse = inUse;
        emit fileInUseChanged();
    }
    bool runCommand(QSqlQuery &query, bool mustChangeRow, const CountChange &change,
                    const NameChange &nameChange);
    void planNameIndex(qint64 userId, const DataStamp &stamp);
    void fillNameIndex();
    const std::vector<quint32> *matchesByNames(qint64 userId, const DataStamp *stamp);
    bool rowsByNames(const std::vector<quint32> &places, int page, QList<TaskRow> &rows);
    qint64 placeInList(qint64 id);
    QSqlQuery &statement(const QString &sql);
    void bindFilters(QSqlQuery &query, qint64 userId);
    bool currentStamp(DataStamp &stamp, bool *busy);
    bool readCounters(qint64 userId, const DataStamp *stamp, bool *busy);
    int countFilteredTasks(qint64 userId, bool viaTrigram, bool *ok);
    bool queryRows(qint64 userId, int page, qint64 matching, const DataStamp *stamp,
                   bool viaTrigram, QList<TaskRow> &rows);
    bool besideEdges(qint64 userId, int page, const DataStamp *stamp);
    void readPage(int page, qint64 userId, const DataStamp *stamp, bool countersRead);
    bool trigramUsable(const DataStamp &stamp);
    bool matchesFilters(const QString &name, int active);
    TaskState taskState(qint64 id);
    void addChange(CountChange &change, const TaskState &task, int sign) const;

    QString m_filterName;
    int m_filterActive = -1;
    DbManager *m_db = nullptr;
    AuthService *m_auth = nullptr;
    TaskTableModel *m_model = nullptr;
    int m_pageSize = 25;
    int m_currentPage = 1;
    int m_totalPages = 1;
    int m_totalCount = 0;
    int m_activeCount = 0;
    int m_inactiveCount = 0;
    bool m_fileInUse = false;
    QSettings m_settings;

    StatementCache m_statements;
    TaskCountCache m_counters;
    TaskCountCache m_matching;
    PageEdges m_edges;
    // Whether the trigram index can be used, for the schema version it was looked up at.
    qint64 m_trigramSchema = -1;
    bool m_trigram = false;

    TaskNameIndex m_names;
    NameFill m_nameFill;
    NameMatches m_nameMatches;
    int m_nameIndexMinimum = 20000;
    int m_nameSliceRows = 10000;
    int m_nameFillPause = 250;
};
