#include "dbmanager.h"

#include "privatefiles.h"
#include "schema.h"

#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>

namespace {

// Off by default: QT_LOGGING_RULES="tarvik.database.warning=true" shows it.
Q_LOGGING_CATEGORY(lcDatabase, "tarvik.database", QtCriticalMsg)

// Rows per slice of the search index's fill: about a frame's time on a slow machine.
constexpr int kFillSliceRows = 1000;

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
    if (initTables())
        createIndexes();
}

bool DbManager::initTables()
{
    m_refusal.clear();
    if (Schema::upgrade(m_connection) != Schema::Upgrade::NewerFile)
        return true;
    m_refusal = tr("This task list was saved by a newer version of Task Manager, which this "
                   "version cannot read. It has not been opened, and nothing in it was changed. "
                   "Please use the newer version, or update this one.\n\n"
                   "File: %1 (version %2; this version reads up to version %3)")
                        .arg(m_connection.databaseName())
                        .arg(Schema::fileVersion(m_connection))
                        .arg(Schema::latestVersion());
    return false;
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
    // A newer release's file is never written to, not even for an index.
    if (!m_refusal.isEmpty())
        return false;
    QSqlQuery query(m_connection);
    if (query.exec(Schema::earlierListIndexQuery()) && query.next()) {
        query.finish();
        return query.exec(QStringLiteral("DROP INDEX idx_tasks_user_created"));
    }
    for (const Schema::Index &index : Schema::listIndexes()) {
        if (!hasSchemaObject(query, index.name))
            return query.exec(index.sql);
    }
    if (!hasSchemaObject(query, QStringLiteral("task_changes_delete"))) {
        bool ok = true;
        for (const QString &trigger : Schema::changeTriggers())
            ok = ok && query.exec(trigger);
        return ok;
    }

    // The search index and its triggers come first, empty, so that every write from then on
    // reaches it; the rows already there are filled in afterwards.
    if (!hasSchemaObject(query, QStringLiteral("tasks_trigram_update"))) {
        if (!beginStep(query))
            return false;
        bool ok = true;
        if (!hasSchemaObject(query, QStringLiteral("tasks_trigram"))) {
            ok = query.exec(Schema::searchIndexTable()) && query.exec(Schema::searchFillTable())
                 && query.exec(QStringLiteral("INSERT INTO tasks_trigram_fill VALUES (0)"));
        }
        for (const QString &trigger : Schema::searchIndexTriggers())
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
        query.prepare(Schema::searchFillSlice());
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
