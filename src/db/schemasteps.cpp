// The steps that bring a file written by an earlier release up to date, in order.
#include "schemasteps.h"

namespace {

using Schema::Step;

const QList<Step> kSteps = {
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
    { 12,
      "a synced task to send again though its fields are as the server has them (its reminder, "
      "which goes as an alarm, changed here), and a change of a task's reminder counted as a "
      "change of the task",
      {
              QStringLiteral("ALTER TABLE sync_items ADD COLUMN resend INTEGER NOT NULL DEFAULT 0"),
              QStringLiteral(
                      "CREATE TRIGGER IF NOT EXISTS task_reminders_resend_insert AFTER INSERT ON "
                      "task_reminders BEGIN UPDATE sync_items SET resend = 1 WHERE task_id = "
                      "new.task_id; DELETE FROM task_changes WHERE task_id = new.task_id; "
                      "INSERT INTO task_changes (task_id, user_id) VALUES (new.task_id, "
                      "new.user_id); END"),
              QStringLiteral(
                      "CREATE TRIGGER IF NOT EXISTS task_reminders_resend_update AFTER UPDATE ON "
                      "task_reminders BEGIN UPDATE sync_items SET resend = 1 WHERE task_id = "
                      "new.task_id; DELETE FROM task_changes WHERE task_id = new.task_id; "
                      "INSERT INTO task_changes (task_id, user_id) VALUES (new.task_id, "
                      "new.user_id); END"),
              QStringLiteral(
                      "CREATE TRIGGER IF NOT EXISTS task_reminders_resend_delete AFTER DELETE ON "
                      "task_reminders BEGIN UPDATE sync_items SET resend = 1 WHERE task_id = "
                      "old.task_id; DELETE FROM task_changes WHERE task_id = old.task_id; "
                      "INSERT INTO task_changes (task_id, user_id) VALUES (old.task_id, "
                      "old.user_id); END"),
      } },
};

} // namespace

const QList<Schema::Step> &Schema::steps()
{
    return kSteps;
}
