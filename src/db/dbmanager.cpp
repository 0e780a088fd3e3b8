#include "dbmanager.h"

#include "privatefiles.h"

#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

namespace {

// Off by default: QT_LOGGING_RULES="tarvik.database.warning=true" shows it.
Q_LOGGING_CATEGORY(lcDatabase, "tarvik.database", QtCriticalMsg)

const auto kUsersTable = QStringLiteral("CREATE TABLE IF NOT EXISTS users (\n"
                                        "    id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                                        "    username TEXT NOT NULL UNIQUE,\n"
                                        "    password_hash BLOB NOT NULL,\n"
                                        "    salt BLOB NOT NULL,\n"
                                        "    name TEXT NOT NULL,\n"
                                        "    role TEXT NOT NULL DEFAULT 'user',\n"
                                        "    active INTEGER NOT NULL DEFAULT 1,\n"
                                        "    created_at TEXT DEFAULT CURRENT_TIMESTAMP\n"
                                        ");");

const auto kTasksTable = QStringLiteral("CREATE TABLE IF NOT EXISTS tasks (\n"
                                        "    id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                                        "    user_id INTEGER NOT NULL,\n"
                                        "    name TEXT,\n"
                                        "    active INTEGER DEFAULT 0,\n"
                                        "    expire_at TEXT,\n"
                                        "    expire_at_epoch INTEGER,\n"
                                        "    create_at TEXT DEFAULT CURRENT_TIMESTAMP,\n"
                                        "    FOREIGN KEY (user_id) REFERENCES users(id)\n"
                                        ");");

// Indexes for the task list, the search and the reminder query, created when missing. The list
// reads newest first, and rows created in the same second newest first too (by id); the filter
// columns ride along so that a filtered page reads the index alone. A search counts its matches on
// the narrow name index, which is read in less than half the time of the list index. The tables
// stay as they are: any version of the program reads and writes the file as before.
struct Index
{
    QString name;
    QString sql;
};
const Index kListIndexes[] = {
    { QStringLiteral("idx_tasks_user_created"),
      QStringLiteral("CREATE INDEX idx_tasks_user_created "
                     "ON tasks (user_id, create_at DESC, id DESC, active, name)") },
    { QStringLiteral("idx_tasks_user_due"),
      QStringLiteral(
              "CREATE INDEX idx_tasks_user_due ON tasks (user_id, active, expire_at_epoch)") },
    { QStringLiteral("idx_tasks_user_name"),
      QStringLiteral("CREATE INDEX idx_tasks_user_name ON tasks (user_id, active, name)") },
};
// The list index in the order of an earlier version (ties by ascending id) is replaced.
const auto kEarlierCreationIndex = QStringLiteral(
        "SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = 'idx_tasks_user_created' "
        "AND sql NOT LIKE '%id DESC%'");

// The search index: every three-character piece of every task name, with the owner and the
// Done flag beside it, so that a search for a term of three or more characters counts its
// matches without a pass over the account's tasks. The triggers keep it in step with every
// write to the tasks table, by this program or any other; each search still applies LIKE to
// the names, so the index only narrows down which rows are looked at.
const auto kTrigramTable = QStringLiteral("CREATE VIRTUAL TABLE tasks_trigram USING fts5("
                                          "name, user_id UNINDEXED, active UNINDEXED, tokenize = "
                                          "'trigram', detail = 'none', columnsize = 0)");
// While this table exists, the index is being filled: it holds the last task id filled in.
const auto kTrigramFillTable =
        QStringLiteral("CREATE TABLE tasks_trigram_fill (last_id INTEGER NOT NULL)");
const auto kTrigramFillSlice =
        QStringLiteral("INSERT OR REPLACE INTO tasks_trigram (rowid, name, user_id, active) "
                       "SELECT id, name, user_id, active FROM tasks WHERE id > ? AND id <= ?");
// Rows per slice: about a frame's time on a slow machine.
constexpr int kFillSliceRows = 1000;
const auto kTrigramTriggers = {
    QStringLiteral("CREATE TRIGGER IF NOT EXISTS tasks_trigram_insert AFTER INSERT ON tasks "
                   "BEGIN INSERT OR REPLACE INTO tasks_trigram (rowid, name, user_id, active) "
                   "VALUES (new.id, new.name, new.user_id, new.active); END"),
    QStringLiteral("CREATE TRIGGER IF NOT EXISTS tasks_trigram_delete AFTER DELETE ON tasks "
                   "BEGIN DELETE FROM tasks_trigram WHERE rowid = old.id; END"),
    QStringLiteral("CREATE TRIGGER IF NOT EXISTS tasks_trigram_update "
                   "AFTER UPDATE OF id, user_id, name, active ON tasks "
                   "BEGIN DELETE FROM tasks_trigram WHERE rowid = old.id; "
                   "INSERT OR REPLACE INTO tasks_trigram (rowid, name, user_id, active) "
                   "VALUES (new.id, new.name, new.user_id, new.active); END"),
};

// A step of the index build is a savepoint: a transaction of its own, or part of the one
// createIndexes opened.
bool beginStep(QSqlQuery &query)
{
    return query.exec(QStringLiteral("SAVEPOINT index_step"));
}

// Ends the step, keeping its changes when ok; false when they are not kept.
bool endStep(QSqlQuery &query, bool ok)
{
    query.finish();
    if (ok && query.exec(QStringLiteral("RELEASE index_step")))
        return true;
    query.exec(QStringLiteral("ROLLBACK TO index_step"));
    query.exec(QStringLiteral("RELEASE index_step"));
    return false;
}

bool hasSchemaObject(QSqlQuery &query, const QString &name)
{
    query.prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE name = ?"));
    query.addBindValue(name);
    const bool found = query.exec() && query.next();
    query.finish();
    return found;
}

} // namespace

DbManager::DbManager(QObject *parent)
    : QObject(parent)
{
}

// The connection is deliberately left open: it ends with the process.
DbManager::~DbManager() = default;

// The file, and the journal SQLite gives the file's permissions, are the owner's alone.
bool DbManager::open(const QString &path)
{
    if (path != QLatin1String(":memory:") && !path.startsWith(QLatin1String("file:"))) {
        PrivateFiles::makeFile(path);
        for (const char *suffix : { "-journal", "-wal", "-shm" })
            PrivateFiles::tighten(path + QLatin1String(suffix));
    }
    m_connection = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    m_connection.setDatabaseName(path);
    return m_connection.open();
}

void DbManager::initSchema()
{
    initTables();
    createIndexes();
}

void DbManager::initTables()
{
    QSqlQuery query(m_connection);
    // Each statement stands alone: a failure of the first does not stop the second.
    query.exec(kUsersTable);
    query.exec(kTasksTable);
}

void DbManager::createIndexes(bool inSlices)
{
    if (!inSlices) {
        // All in one transaction: one commit, and readers meet one short lock.
        QSqlQuery query(m_connection);
        const bool inTransaction = query.exec(QStringLiteral("BEGIN"));
        while (buildStep()) { }
        if (inTransaction && !query.exec(QStringLiteral("COMMIT")))
            query.exec(QStringLiteral("ROLLBACK"));
    } else if (buildStep()) {
        QTimer::singleShot(0, this, [this] { createIndexes(true); });
    }
}

bool DbManager::createIndexesIfQuick()
{
    constexpr int kQuickRows = 2000;
    QSqlQuery query(m_connection);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM tasks LIMIT ?)"));
    query.addBindValue(kQuickRows);
    const bool quick = query.exec() && query.next() && query.value(0).toInt() < kQuickRows;
    query.finish();
    if (quick)
        createIndexes();
    return quick;
}

// Makes the next missing piece: one list index, the empty search index with its triggers, or
// one slice of the search index's rows. False when nothing is left, or when a step failed: on a
// tasks table of another shape the list indexes fail, and nothing more is made.
bool DbManager::buildStep()
{
    QSqlQuery query(m_connection);
    if (query.exec(kEarlierCreationIndex) && query.next()) {
        query.finish();
        return query.exec(QStringLiteral("DROP INDEX idx_tasks_user_created"));
    }
    for (const Index &index : kListIndexes) {
        if (!hasSchemaObject(query, index.name))
            return query.exec(index.sql);
    }

    // The search index and its triggers come first, empty, so that every write from then on
    // reaches it; the rows already there are filled in afterwards.
    if (!hasSchemaObject(query, QStringLiteral("tasks_trigram_update"))) {
        if (!beginStep(query))
            return false;
        bool ok = true;
        if (!hasSchemaObject(query, QStringLiteral("tasks_trigram"))) {
            ok = query.exec(kTrigramTable) && query.exec(kTrigramFillTable)
                 && query.exec(QStringLiteral("INSERT INTO tasks_trigram_fill VALUES (0)"));
        }
        for (const QString &trigger : kTrigramTriggers)
            ok = ok && query.exec(trigger);
        const QString error = query.lastError().text();
        if (!endStep(query, ok)) {
            qCWarning(lcDatabase) << "cannot make the search index:" << error;
            return false;
        }
        return true;
    }
    return fillTrigramSlice();
}

// Fills the next slice of tasks into the search index, in a transaction of its own, and says
// whether more are left; searches use the index once it is full.
bool DbManager::fillTrigramSlice()
{
    QSqlQuery query(m_connection);
    if (!hasSchemaObject(query, QStringLiteral("tasks_trigram_fill")) || !beginStep(query))
        return false;
    bool ok = query.exec(QStringLiteral("SELECT last_id FROM tasks_trigram_fill")) && query.next();
    const qint64 from = ok ? query.value(0).toLongLong() : 0;
    query.prepare(QStringLiteral("SELECT MAX(id) FROM (SELECT id FROM tasks WHERE id > ? "
                                 "ORDER BY id LIMIT %1)")
                          .arg(kFillSliceRows));
    query.addBindValue(from);
    ok = ok && query.exec() && query.next();
    const QVariant to = ok ? query.value(0) : QVariant();
    bool more = false;
    if (ok && to.isNull()) {
        ok = query.exec(QStringLiteral("DROP TABLE tasks_trigram_fill"));
    } else if (ok) {
        query.prepare(kTrigramFillSlice);
        query.addBindValue(from);
        query.addBindValue(to);
        ok = query.exec();
        query.prepare(QStringLiteral("UPDATE tasks_trigram_fill SET last_id = ?"));
        query.addBindValue(to);
        ok = ok && query.exec();
        more = ok;
    }
    query.finish();
    const QString error = query.lastError().text();
    if (!endStep(query, ok)) {
        qCWarning(lcDatabase) << "cannot fill the search index:" << error;
        return false;
    }
    return more;
}

QSqlDatabase DbManager::database() const
{
    return m_connection;
}
