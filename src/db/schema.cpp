#include "schema.h"

#include "schemasteps.h"

#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

using Schema::Step;

// Off by default but for a failed step: QT_LOGGING_RULES="tarvik.database.warning=true".
Q_LOGGING_CATEGORY(lcSchema, "tarvik.database", QtCriticalMsg)

// The two tables every version has, made by exactly these statements before any step runs.
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

// The steps, oldest first: the step of version n takes a file of version n - 1 to n.
//

// Runs one step and records its version, all in one transaction; false when nothing of it is
// kept. Another process may have taken the file past the step meanwhile: then it is skipped.
bool applyStep(const QSqlDatabase &db, const Step &step)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        qCCritical(lcSchema) << "cannot start schema step" << step.version << "-"
                             << query.lastError().text();
        return false;
    }
    if (Schema::fileVersion(db) >= step.version)
        return query.exec(QStringLiteral("COMMIT"));
    bool ok = true;
    for (const QString &statement : step.statements) {
        ok = query.exec(statement);
        if (!ok)
            break;
    }
    ok = ok && query.exec(QStringLiteral("PRAGMA user_version = %1").arg(step.version))
         && query.exec(QStringLiteral("COMMIT"));
    if (!ok) {
        qCCritical(lcSchema) << "schema step" << step.version << "(" << step.what
                             << ") failed and was undone:" << query.lastError().text();
        query.exec(QStringLiteral("ROLLBACK"));
    }
    return ok;
}

} // namespace

namespace Schema {

int latestVersion()
{
    return Schema::steps().last().version;
}

int fileVersion(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return -1;
    return query.value(0).toInt();
}

Upgrade upgrade(const QSqlDatabase &db)
{
    const int found = fileVersion(db);
    if (found > latestVersion())
        return Upgrade::NewerFile;

    QSqlQuery query(db);
    // Each statement stands alone: a failure of the first does not stop the second.
    query.exec(kUsersTable);
    query.exec(kTasksTable);

    const QList<Step> &steps = Schema::steps();
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const Step &step = steps.at(i);
        Q_ASSERT(step.version == int(i) + 1);
        if (step.version > found && !applyStep(db, step))
            return Upgrade::Failed;
    }
    return Upgrade::Done;
}

// The list reads newest first, and rows created in the same second newest first too (by id);
// the filter columns ride along so that a filtered page reads the index alone; the same holds
// for the "due soonest" order (tasks without a due time last, ties by id). A search counts
// its matches on the narrow name index, which is read in less than half the time of the list
// index.
const QList<Index> &listIndexes()
{
    static const QList<Index> indexes {
        { QStringLiteral("idx_tasks_user_created"),
          QStringLiteral("CREATE INDEX idx_tasks_user_created "
                         "ON tasks (user_id, create_at DESC, id DESC, active, name)") },
        { QStringLiteral("idx_tasks_user_due"),
          QStringLiteral(
                  "CREATE INDEX idx_tasks_user_due ON tasks (user_id, active, expire_at_epoch)") },
        { QStringLiteral("idx_tasks_user_name"),
          QStringLiteral("CREATE INDEX idx_tasks_user_name ON tasks (user_id, active, name)") },
        { QStringLiteral("idx_tasks_user_soonest"),
          QStringLiteral("CREATE INDEX idx_tasks_user_soonest ON tasks (user_id, "
                         "ifnull(expire_at_epoch, 9223372036854775807), id, active, name)") },
    };
    return indexes;
}

// The list index in the order of an earlier release sorted ties by ascending id.
QString earlierListIndexQuery()
{
    return QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'index' "
                          "AND name = 'idx_tasks_user_created' AND sql NOT LIKE '%id DESC%'");
}

// Every three-character piece of every task name, with the owner and the Done flag beside it,
// so that a search for a term of three or more characters counts its matches without a pass
// over the account's tasks. The triggers keep it in step with every write to the tasks table,
// by this program or any other; each search still applies LIKE to the names, so the index only
// narrows down which rows are looked at.
QString searchIndexTable()
{
    return QStringLiteral("CREATE VIRTUAL TABLE tasks_trigram USING fts5("
                          "name, user_id UNINDEXED, active UNINDEXED, tokenize = "
                          "'trigram', detail = 'none', columnsize = 0)");
}

// While this table exists, the search index is being filled: it holds the last task id filled.
QString searchFillTable()
{
    return QStringLiteral("CREATE TABLE tasks_trigram_fill (last_id INTEGER NOT NULL)");
}

QString searchFillSlice()
{
    return QStringLiteral("INSERT OR REPLACE INTO tasks_trigram (rowid, name, user_id, active) "
                          "SELECT id, name, user_id, active FROM tasks WHERE id > ? AND id <= ?");
}

// Every write to tasks, by any program, moves the task to the end of task_changes, so that a
// sync reads only the tasks changed since the last change it sent.
const QStringList &changeTriggers()
{
    static const QStringList triggers {
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS task_changes_insert AFTER INSERT ON "
                       "tasks BEGIN INSERT OR REPLACE INTO task_changes (task_id, user_id) "
                       "VALUES (new.id, new.user_id); END"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS task_changes_update AFTER UPDATE ON "
                       "tasks BEGIN INSERT OR REPLACE INTO task_changes (task_id, user_id) "
                       "VALUES (new.id, new.user_id); END"),
        QStringLiteral("CREATE TRIGGER IF NOT EXISTS task_changes_delete AFTER DELETE ON "
                       "tasks BEGIN INSERT OR REPLACE INTO task_changes (task_id, user_id) "
                       "VALUES (old.id, old.user_id); END"),
    };
    return triggers;
}

const QStringList &searchIndexTriggers()
{
    static const QStringList triggers {
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
    return triggers;
}

} // namespace Schema
