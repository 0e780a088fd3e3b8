#include "dbmanager.h"

#include "privatefiles.h"

#include <QSqlQuery>

namespace {

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

// Indexes for the task list and the reminder query, created with the tables when missing.
// The list reads newest first, and rows created in the same second newest first too (by id);
// the filter columns ride along so that a search reads the index alone. The tables stay as
// they are: any version of the program reads and writes the file as before. An index of this
// name in the order of an earlier version is replaced.
const auto kTasksByCreationIndex =
        QStringLiteral("CREATE INDEX IF NOT EXISTS idx_tasks_user_created "
                       "ON tasks (user_id, create_at DESC, id DESC, active, name)");
const auto kEarlierCreationIndex = QStringLiteral(
        "SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = 'idx_tasks_user_created' "
        "AND sql NOT LIKE '%id DESC%'");
const auto kTasksByDueTimeIndex = QStringLiteral("CREATE INDEX IF NOT EXISTS idx_tasks_user_due ON "
                                                 "tasks (user_id, active, expire_at_epoch)");

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
    QSqlQuery query(m_connection);
    // Each statement stands alone: a failure of the first does not stop the second.
    query.exec(kUsersTable);
    query.exec(kTasksTable);
    if (query.exec(kEarlierCreationIndex) && query.next()) {
        query.finish();
        query.exec(QStringLiteral("DROP INDEX idx_tasks_user_created"));
    }
    query.exec(kTasksByCreationIndex);
    query.exec(kTasksByDueTimeIndex);
}

QSqlDatabase DbManager::database() const
{
    return m_connection;
}
