#pragma once

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSettings>
#include <QSqlQuery>
#include <QString>
#include <QVariantMap>

#include <unordered_map>

class AuthService;
class DbManager;
class QSqlDriver;
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

public:
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

    void setPageSize(int size);
    void setFilterName(const QString &text);
    void setFilterActive(int value);

    // Every pending task of the signed-in user due within the next withinMinutes minutes,
    // earliest first (ties by id), each with the same keys as nextDueTask.
    QList<QVariantMap> dueTasks(int withinMinutes);

signals:
    void pageSizeChanged();
    void currentPageChanged();
    void totalPagesChanged();
    void filterNameChanged();
    void filterActiveChanged();
    void countsChanged();

public:
    Q_INVOKABLE void loadPage(int page);
    Q_INVOKABLE bool createTask(const QString &name, const QDateTime &expireAt, bool active = true);
    Q_INVOKABLE bool updateTask(int id, const QString &name, bool active,
                                const QDateTime &expireAt);
    Q_INVOKABLE bool deleteTask(int id);
    Q_INVOKABLE QVariantMap nextDueTask(int withinMinutes);
    Q_INVOKABLE bool deleteAllInactive();

private:
    // Identifies what the database holds: it changes with every row written through this
    // connection, every commit of another connection or process, and every schema change.
    struct DataStamp
    {
        qint64 changes = -1;
        qint64 dataVersion = -1;
        qint64 schemaVersion = -1;
        bool operator==(const DataStamp &other) const
        {
            return changes == other.changes && dataVersion == other.dataVersion
                   && schemaVersion == other.schemaVersion;
        }
    };
    // Counts read earlier, reusable while the stamp and the question stay the same.
    struct CachedCount
    {
        bool valid = false;
        DataStamp stamp;
        int userId = -1;
        QString filterName;
        int filterActive = -1;
        int total = 0;
        int active = 0;
        int inactive = 0;
    };

    struct PreparedStatement
    {
        QSqlQuery query;
        bool prepared = false;
    };

    // What a command of this program does to the counts, known before it runs; applied to
    // counts read under the stamp just before the command, so that they need no recount.
    struct CountChange
    {
        int total = 0;
        int active = 0;
        int inactive = 0;
        int matching = 0;
        bool matchingKnown = true;
        // Each row the command affects is a Done task removed (delete-all-Done).
        bool perDoneRowRemoved = false;
    };
    // A task row as the filters see it, read before a command changes it.
    struct RowState
    {
        bool exists = false;
        int active = -1; // 1 Done, 0 pending, -1 any other stored value (counted by neither)
        bool matches = false;
    };

    bool ready() const;
    bool runCommand(QSqlQuery &query, const CountChange *change = nullptr);
    int countFilteredTasks(int userId, bool viaTrigram, bool *ok = nullptr);
    bool readCounters(int userId, const DataStamp *stamp);
    bool queryRows(int userId, qint64 offset, qint64 matching, bool viaTrigram,
                   QList<TaskRow> &rows);
    bool currentStamp(DataStamp &stamp);
    bool trigramUsable(const DataStamp &stamp);
    bool matchesFilters(const QString &name, int active);
    RowState rowState(qint64 id);
    void addChange(CountChange &change, const RowState &row, int sign) const;
    QSqlQuery &statement(const QString &sql);
    QList<QVariantMap> queryDue(int withinMinutes, bool firstOnly);

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
    QSettings m_settings;

    // Prepared statements, kept for reuse on the connection they were prepared on.
    std::unordered_map<QString, PreparedStatement> m_statements;
    const QSqlDriver *m_statementsDriver = nullptr;
    CachedCount m_counters;
    CachedCount m_matching;
    // Whether the search index is there and kept in step, for the schema version it was read at.
    qint64 m_trigramSchema = -1;
    bool m_trigram = false;
};
