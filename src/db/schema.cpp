#include "schema.h"

#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <iterator>

namespace {

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
// A released step is never changed: a new column, table or conversion is a new step at the end
// of the list, and the version a file has says exactly which steps it went through. A step is
// SQL only (ALTER TABLE ... ADD COLUMN, CREATE TABLE, UPDATE to fill a new column from the old
// ones); it runs in one transaction with the new version number, so that a file never holds
// half of it. A step that replaces an index, the search index or its triggers drops them, and
// DbManager makes them again from the definitions below.
struct Step
{
    int version;
    const char *what;
    QStringList statements;
};

const Step kSteps[] = {
    { 1,
      "the sync's tables and the iCalendar UIDs of tasks; releases without versions made them "
      "when first needed, so a file may hold them already",
      {
              QStringLiteral("CREATE TABLE IF NOT EXISTS sync_accounts (\n"
                             "    user_id INTEGER PRIMARY KEY,\n"
                             "    server_url TEXT NOT NULL,\n"
                             "    username TEXT NOT NULL,\n"
                             "    collection_url TEXT,\n"
                             "    sync_token TEXT,\n"
                             "    insecure_allowed INTEGER NOT NULL DEFAULT 0,\n"
                             "    last_sync_epoch INTEGER,\n"
                             "    FOREIGN KEY (user_id) REFERENCES users(id)\n"
                             ")"),
              QStringLiteral("CREATE TABLE IF NOT EXISTS sync_items (\n"
                             "    task_id INTEGER PRIMARY KEY,\n"
                             "    user_id INTEGER NOT NULL,\n"
                             "    uid TEXT NOT NULL,\n"
                             "    href TEXT NOT NULL,\n"
                             "    etag TEXT,\n"
                             "    ical TEXT,\n"
                             "    synced INTEGER NOT NULL DEFAULT 0,\n"
                             "    synced_name TEXT,\n"
                             "    synced_done INTEGER,\n"
                             "    synced_due INTEGER,\n"
                             "    changed_at INTEGER,\n"
                             "    UNIQUE (user_id, uid)\n"
                             ")"),
              QStringLiteral("CREATE TABLE IF NOT EXISTS task_uids (\n"
                             "    task_id INTEGER PRIMARY KEY,\n"
                             "    user_id INTEGER NOT NULL,\n"
                             "    uid TEXT NOT NULL,\n"
                             "    calendar TEXT,\n"
                             "    UNIQUE (user_id, uid)\n"
                             ")"),
      } },
    { 2,
      "when each task was last changed here, in milliseconds since 1970 (by the window or the "
      "sync; an import clears it), so that importing an older file keeps the newer task",
      {
              QStringLiteral("CREATE TABLE IF NOT EXISTS task_changed_here (\n"
                             "    task_id INTEGER PRIMARY KEY,\n"
                             "    changed_ms INTEGER NOT NULL\n"
                             ")"),
      } },
    { 3,
      "reminders put off by the person: the task, the due time it was put off for, and when it "
      "comes again",
      {
              QStringLiteral("CREATE TABLE task_snoozes (\n"
                             "    task_id INTEGER PRIMARY KEY,\n"
                             "    due_epoch INTEGER NOT NULL,\n"
                             "    until_epoch INTEGER NOT NULL\n"
                             ")"),
      } },
    { 4,
      "the rules of repeating tasks: the RRULE, whether the next occurrence counts from the "
      "completion, the zone the occurrences are counted in, and how long before DUE the "
      "occurrence starts (DTSTART)",
      {
              QStringLiteral("CREATE TABLE IF NOT EXISTS task_repeat (\n"
                             "    task_id INTEGER PRIMARY KEY,\n"
                             "    user_id INTEGER NOT NULL,\n"
                             "    rrule TEXT NOT NULL,\n"
                             "    from_completion INTEGER NOT NULL DEFAULT 0,\n"
                             "    zone TEXT,\n"
                             "    start_offset INTEGER NOT NULL DEFAULT 0\n"
                             ")"),
      } },
    { 5,
      "sign-ins kept on this computer: the SHA-256 of the random token kept in the secret "
      "service or a private file, never the token itself; signing out forgets it",
      {
              QStringLiteral("CREATE TABLE IF NOT EXISTS kept_signins (\n"
                             "    token_hash BLOB PRIMARY KEY,\n"
                             "    user_id INTEGER NOT NULL,\n"
                             "    created_epoch INTEGER NOT NULL\n"
                             ")"),
      } },
    { 6,
      "a counter of the changes to tasks (kept by triggers made with the indexes, for every "
      "program that writes the file), and the last change each sync account has sent, so that "
      "a sync reads only the tasks changed since; an index of the sync's addresses and of what "
      "the server has not taken yet",
      {
              QStringLiteral("CREATE TABLE IF NOT EXISTS task_changes (\n"
                             "    seq INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                             "    task_id INTEGER NOT NULL UNIQUE,\n"
                             "    user_id INTEGER NOT NULL\n"
                             ")"),
              QStringLiteral("CREATE INDEX IF NOT EXISTS task_changes_user "
                             "ON task_changes (user_id, seq)"),
              QStringLiteral("ALTER TABLE sync_accounts ADD COLUMN changes_sent INTEGER NOT NULL "
                             "DEFAULT 0"),
              QStringLiteral("CREATE INDEX IF NOT EXISTS sync_items_href "
                             "ON sync_items (user_id, href)"),
              QStringLiteral("CREATE INDEX IF NOT EXISTS sync_items_unsent ON sync_items "
                             "(user_id) WHERE synced = 0 OR etag IS NULL OR etag = ''"),
      } },
    { 7,
      "a task's notes, priority and tags beside it, the account's tags by name, and the "
      "tasks by priority",
      {
              QStringLiteral("CREATE TABLE IF NOT EXISTS task_details (\n"
                             "    task_id INTEGER PRIMARY KEY,\n"
                             "    user_id INTEGER NOT NULL,\n"
                             "    notes TEXT,\n"
                             "    priority INTEGER NOT NULL DEFAULT 0,\n"
                             "    priority_raw INTEGER,\n"
                             "    tags TEXT\n"
                             ")"),
              QStringLiteral("CREATE TABLE IF NOT EXISTS task_tags (\n"
                             "    user_id INTEGER NOT NULL,\n"
                             "    tag TEXT NOT NULL,\n"
                             "    task_id INTEGER NOT NULL,\n"
                             "    PRIMARY KEY (user_id, tag, task_id)\n"
                             ") WITHOUT ROWID"),
              QStringLiteral(
                      "CREATE INDEX IF NOT EXISTS idx_task_tags_task ON task_tags (task_id)"),
              // The "priority" order reads the tasks with a priority through it.
              QStringLiteral("CREATE INDEX IF NOT EXISTS idx_task_details_priority "
                             "ON task_details (user_id, priority, task_id)"),
      } },
    { 8,
      "what each import wrote, for its undo: the tasks it made, and the rows of those it "
      "changed as they were before (JSON, by table); kept while the import may be undone",
      {
              QStringLiteral("CREATE TABLE IF NOT EXISTS task_imports (\n"
                             "    id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                             "    user_id INTEGER NOT NULL,\n"
                             "    at_ms INTEGER NOT NULL\n"
                             ")"),
              QStringLiteral("CREATE TABLE IF NOT EXISTS task_import_rows (\n"
                             "    import_id INTEGER NOT NULL,\n"
                             "    user_id INTEGER NOT NULL,\n"
                             "    task_id INTEGER NOT NULL,\n"
                             "    before TEXT,\n"
                             "    PRIMARY KEY (import_id, task_id)\n"
                             ") WITHOUT ROWID"),
      } },
    { 9,
      "each task's own reminder where it is not the account's lead time: minutes before the due "
      "time (0 at the due time), or -1 for none; the reminder check reads the tasks of each "
      "lead through the index",
      {
              QStringLiteral("CREATE TABLE IF NOT EXISTS task_reminders (\n"
                             "    task_id INTEGER PRIMARY KEY,\n"
                             "    user_id INTEGER NOT NULL,\n"
                             "    lead_minutes INTEGER NOT NULL\n"
                             ")"),
              QStringLiteral("CREATE INDEX IF NOT EXISTS idx_task_reminders_lead "
                             "ON task_reminders (user_id, lead_minutes, task_id)"),
      } },
    { 10,
      "the notes, priority and tags the server last took or gave for each synced task, and a "
      "change of a task's details counted as a change of the task, for the sync to send (a "
      "row deleted and added again, which no conflict policy of the statement that writes the "
      "details can turn into a failure or a change not counted)",
      {
              QStringLiteral("ALTER TABLE sync_items ADD COLUMN synced_details TEXT"),
              QStringLiteral(
                      "CREATE TRIGGER IF NOT EXISTS task_details_changes_insert AFTER "
                      "INSERT ON task_details BEGIN DELETE FROM task_changes WHERE task_id = "
                      "new.task_id; INSERT INTO task_changes (task_id, user_id) VALUES "
                      "(new.task_id, new.user_id); END"),
              QStringLiteral(
                      "CREATE TRIGGER IF NOT EXISTS task_details_changes_update AFTER "
                      "UPDATE ON task_details BEGIN DELETE FROM task_changes WHERE task_id = "
                      "new.task_id; INSERT INTO task_changes (task_id, user_id) VALUES "
                      "(new.task_id, new.user_id); END"),
              QStringLiteral(
                      "CREATE TRIGGER IF NOT EXISTS task_details_changes_delete AFTER "
                      "DELETE ON task_details BEGIN DELETE FROM task_changes WHERE task_id = "
                      "old.task_id; INSERT INTO task_changes (task_id, user_id) VALUES "
                      "(old.task_id, old.user_id); END"),
      } },
    { 11,
      "the time zones an account's imported tasks use that the system does not know, each "
      "defined once (VTIMEZONE) rather than in every task's kept text",
      {
              QStringLiteral("CREATE TABLE IF NOT EXISTS task_zones (\n"
                             "    user_id INTEGER NOT NULL,\n"
                             "    tzid TEXT NOT NULL,\n"
                             "    definition TEXT NOT NULL,\n"
                             "    PRIMARY KEY (user_id, tzid)\n"
                             ") WITHOUT ROWID"),
      } },
};

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
    return std::end(kSteps)[-1].version;
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

    for (const Step &step : kSteps) {
        Q_ASSERT(step.version == int(&step - kSteps) + 1);
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
