#include "taskservice.h"

#include "authservice.h"
#include "dbmanager.h"
#include "tasktablemodel.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

#include <algorithm>
#include <limits>

namespace {

const auto kPageSizeKey = QStringLiteral("taskPageSize");

// Stored texts are UTC, whether or not they say so (CURRENT_TIMESTAMP carries no zone):
// parse, re-label the wall-clock time as UTC, show it in local time.
QDateTime readStoredDateTime(const QVariant &value)
{
    const QDateTime parsed = value.toDateTime();
    if (!parsed.isValid())
        return {};
    return QDateTime(parsed.date(), parsed.time(), QTimeZone::utc()).toLocalTime();
}

// The due time is written in UTC, so that its text and its epoch seconds name the same instant.
QVariant dueTimeValue(const QDateTime &expireAt)
{
    return expireAt.isValid() ? QVariant(expireAt.toUTC())
                              : QVariant(QMetaType::fromType<QDateTime>());
}

QVariant dueEpochValue(const QDateTime &expireAt)
{
    return expireAt.isValid() ? QVariant(expireAt.toSecsSinceEpoch())
                              : QVariant(QMetaType::fromType<qint64>());
}

// Adds delta to base without leaving the 64-bit range.
qint64 saturatingAdd(qint64 base, qint64 delta)
{
    if (delta > 0 && base > std::numeric_limits<qint64>::max() - delta)
        return std::numeric_limits<qint64>::max();
    if (delta < 0 && base < std::numeric_limits<qint64>::min() - delta)
        return std::numeric_limits<qint64>::min();
    return base + delta;
}

// The search index can answer a LIKE pattern when it holds a run of at least three characters
// that are no wildcards; shorter terms would make it read every entry.
bool hasTrigramRun(const QString &pattern)
{
    int run = 0;
    for (const uint c : pattern.toUcs4()) {
        run = (c == '%' || c == '_') ? 0 : run + 1;
        if (run >= 3)
            return true;
    }
    return false;
}

QString likePattern(const QString &filterName)
{
    return QStringLiteral("%") + filterName + QStringLiteral("%");
}

} // namespace

TaskService::TaskService(DbManager *db, AuthService *auth, TaskTableModel *model, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_auth(auth)
    , m_model(model)
    , m_settings(QStringLiteral("Brellhaven"), QStringLiteral("TarvikQtQml"))
{
    m_pageSize = std::max(m_settings.value(kPageSizeKey, m_pageSize).toInt(), 1);
}

bool TaskService::ready() const
{
    return m_db && m_db->database().isOpen() && m_auth && m_auth->isLoggedIn();
}

// A statement prepared on the current connection, prepared once and reused afterwards. One
// that did not prepare is prepared afresh on the next call; meanwhile its exec fails.
QSqlQuery &TaskService::statement(const QString &sql)
{
    const QSqlDatabase database = m_db->database();
    if (database.driver() != m_statementsDriver) {
        m_statements.clear();
        m_statementsDriver = database.driver();
    }
    auto it = m_statements.find(sql);
    if (it == m_statements.end())
        it = m_statements.emplace(sql, PreparedStatement { QSqlQuery(database), false }).first;
    if (!it->second.prepared)
        it->second.prepared = it->second.query.prepare(sql);
    return it->second.query;
}

// The stamp in one statement; false when the database cannot tell, and nothing is reused.
bool TaskService::currentStamp(DataStamp &stamp)
{
    QSqlQuery &query =
            statement(QStringLiteral("SELECT total_changes(), "
                                     "(SELECT data_version FROM pragma_data_version), "
                                     "(SELECT schema_version FROM pragma_schema_version)"));
    const bool found = query.exec() && query.next();
    if (found) {
        stamp.changes = query.value(0).toLongLong();
        stamp.dataVersion = query.value(1).toLongLong();
        stamp.schemaVersion = query.value(2).toLongLong();
    }
    query.finish();
    return found;
}

void TaskService::setPageSize(int size)
{
    size = std::max(size, 1);
    if (size == m_pageSize)
        return;
    m_pageSize = size;
    m_settings.setValue(kPageSizeKey, m_pageSize);
    emit pageSizeChanged();
}

void TaskService::setFilterName(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed == m_filterName)
        return;
    m_filterName = trimmed;
    emit filterNameChanged();
    loadPage(1);
}

void TaskService::setFilterActive(int value)
{
    if (value != -1 && value != 0 && value != 1)
        value = -1;
    if (value == m_filterActive)
        return;
    m_filterActive = value;
    emit filterActiveChanged();
    loadPage(1);
}

// A term found in few tasks is counted on the trigram index, whose first matches say so; one
// found in many is counted faster by a scan of the account's names.
int TaskService::countFilteredTasks(int userId, bool viaTrigram, bool *ok)
{
    constexpr int kTrigramCountLimit = 2000;
    for (const bool trigram : { true, false }) {
        if (trigram && !viaTrigram)
            continue;
        QString sql = trigram ? QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 FROM tasks_trigram "
                                               "WHERE user_id = :uid")
                              : QStringLiteral("SELECT COUNT(*) FROM tasks WHERE user_id = :uid");
        if (!m_filterName.isEmpty())
            sql += QStringLiteral(" AND name LIKE :name");
        if (m_filterActive != -1)
            sql += QStringLiteral(" AND active = :active");
        if (trigram)
            sql += QStringLiteral(" LIMIT %1)").arg(kTrigramCountLimit);

        QSqlQuery &query = statement(sql);
        query.bindValue(QStringLiteral(":uid"), userId);
        if (!m_filterName.isEmpty())
            query.bindValue(QStringLiteral(":name"), likePattern(m_filterName));
        if (m_filterActive != -1)
            query.bindValue(QStringLiteral(":active"), m_filterActive);
        const bool found = query.exec() && query.next();
        const int count = found ? query.value(0).toInt() : 0;
        query.finish();
        if (trigram && (!found || count >= kTrigramCountLimit))
            continue;
        if (ok)
            *ok = found;
        return count;
    }
    return 0;
}

// The search index is used only once it is full and while all three triggers are there, which
// keep it in step with every writer; it is looked up again whenever the schema changes.
bool TaskService::trigramUsable(const DataStamp &stamp)
{
    if (stamp.schemaVersion == m_trigramSchema)
        return m_trigram;
    QSqlQuery &query = statement(QStringLiteral(
            "SELECT (SELECT COUNT(*) FROM sqlite_master WHERE type = 'trigger' AND name IN "
            "('tasks_trigram_insert', 'tasks_trigram_delete', 'tasks_trigram_update')) = 3 "
            "AND NOT EXISTS (SELECT 1 FROM sqlite_master WHERE name = 'tasks_trigram_fill')"));
    m_trigram = query.exec() && query.next() && query.value(0).toBool();
    query.finish();
    m_trigramSchema = stamp.schemaVersion;
    return m_trigram;
}

// Reads the three counters into the cache; with a stamp, counters read under the same stamp
// are taken as they are.
bool TaskService::readCounters(int userId, const DataStamp *stamp)
{
    if (stamp && m_counters.valid && m_counters.userId == userId && m_counters.stamp == *stamp)
        return true;
    m_counters.valid = false;

    QSqlQuery &counters = statement(QStringLiteral("\n"
                                                   "    SELECT\n"
                                                   "        COUNT(*) AS total,\n"
                                                   "        SUM(active = 1) AS active,\n"
                                                   "        SUM(active = 0) AS inactive\n"
                                                   "    FROM tasks\n"
                                                   "    WHERE user_id = :uid\n"));
    counters.bindValue(QStringLiteral(":uid"), userId);
    const bool found = counters.exec() && counters.next();
    if (found) {
        m_counters.total = counters.value(QStringLiteral("total")).toInt();
        m_counters.active = counters.value(QStringLiteral("active")).toInt();
        m_counters.inactive = counters.value(QStringLiteral("inactive")).toInt();
        m_counters.userId = userId;
        m_counters.valid = stamp != nullptr;
        if (stamp)
            m_counters.stamp = *stamp;
    }
    counters.finish();
    return found;
}

// The page's rows. With the matching count known, a page past the middle is read from the
// other end of the list (the same rows, then put back in order), so that no page walks past
// more than half of the list. Through the search index, the matching rows are looked up by
// the index and sorted; otherwise the list is walked in its order.
bool TaskService::queryRows(int userId, qint64 offset, qint64 matching, bool viaTrigram,
                            QList<TaskRow> &rows)
{
    qint64 limit = m_pageSize;
    bool reversed = false;
    if (matching >= 0 && offset > 0) {
        const qint64 end = std::min(offset + m_pageSize, matching);
        if (end > offset && matching - end < offset) {
            reversed = true;
            limit = end - offset;
            offset = matching - end;
        }
    }

    QString sql;
    if (viaTrigram) {
        sql = QStringLiteral("SELECT tasks.id, tasks.name, tasks.active, tasks.expire_at, "
                             "tasks.create_at FROM tasks_trigram CROSS JOIN tasks "
                             "ON tasks.id = tasks_trigram.rowid "
                             "WHERE tasks_trigram.name LIKE :name "
                             "AND tasks_trigram.user_id = :uid "
                             "AND tasks.user_id = :uid AND tasks.name LIKE :name");
        if (m_filterActive != -1)
            sql += QStringLiteral(" AND tasks.active = :active");
        sql += reversed ? QStringLiteral(" ORDER BY tasks.create_at ASC, tasks.id DESC")
                        : QStringLiteral(" ORDER BY tasks.create_at DESC, tasks.id ASC");
        sql += QStringLiteral(" LIMIT :lim OFFSET :off");
    } else {
        sql = QStringLiteral("\n"
                             "    SELECT id, name, active, expire_at, create_at\n"
                             "    FROM tasks\n"
                             "    WHERE user_id = :uid\n"
                             "    ");
        if (!m_filterName.isEmpty())
            sql += QStringLiteral(" AND name LIKE :name");
        if (m_filterActive != -1)
            sql += QStringLiteral(" AND active = :active");
        // Rows created in the same second come by ascending id, the order of the list index.
        sql += reversed ? QStringLiteral("\n"
                                         "    ORDER BY create_at ASC, id DESC\n"
                                         "    LIMIT :lim OFFSET :off\n"
                                         "    ")
                        : QStringLiteral("\n"
                                         "    ORDER BY create_at DESC\n"
                                         "    LIMIT :lim OFFSET :off\n"
                                         "    ");
    }

    QSqlQuery &rowsQuery = statement(sql);
    rowsQuery.bindValue(QStringLiteral(":uid"), userId);
    if (!m_filterName.isEmpty())
        rowsQuery.bindValue(QStringLiteral(":name"), likePattern(m_filterName));
    if (m_filterActive != -1)
        rowsQuery.bindValue(QStringLiteral(":active"), m_filterActive);
    rowsQuery.bindValue(QStringLiteral(":lim"), limit);
    rowsQuery.bindValue(QStringLiteral(":off"), offset);

    rows.clear();
    const bool ok = rowsQuery.exec();
    if (ok) {
        while (rowsQuery.next()) {
            TaskRow row;
            row.id = rowsQuery.value(0).toInt();
            row.name = rowsQuery.value(1).toString();
            row.active = rowsQuery.value(2).toBool();
            row.expireAt = readStoredDateTime(rowsQuery.value(3));
            row.createAt = readStoredDateTime(rowsQuery.value(4));
            rows.append(std::move(row));
        }
    }
    rowsQuery.finish();
    if (reversed)
        std::reverse(rows.begin(), rows.end());
    return ok;
}

// Page flips and search keystrokes ask the same counting questions of unchanged data over and
// over; the answers are kept with the stamp of the data they were read from and reused while
// the stamp stays the same. The results are those of the full sequence: the matching count,
// the counters, the page count and clamping, then the page's rows.
void TaskService::loadPage(int page)
{
    if (!ready())
        return;
    const int userId = m_auth->userId();

    DataStamp stamp;
    const bool stamped = currentStamp(stamp);
    const bool countersRead = readCounters(userId, stamped ? &stamp : nullptr);
    const bool viaTrigram = !m_filterName.isEmpty() && stamped && trigramUsable(stamp)
                            && hasTrigramRun(m_filterName);

    // Without a name filter the matching count is one of the counters.
    int matching = 0;
    bool matchingKnown = false;
    if (m_filterName.isEmpty() && countersRead) {
        matching = m_filterActive == -1  ? m_counters.total
                   : m_filterActive == 1 ? m_counters.active
                                         : m_counters.inactive;
        matchingKnown = true;
    } else if (stamped && m_matching.valid && m_matching.userId == userId
               && m_matching.stamp == stamp && m_matching.filterName == m_filterName
               && m_matching.filterActive == m_filterActive) {
        matching = m_matching.total;
        matchingKnown = true;
    }

    // Page 1 stays page 1 whatever the count, so its rows can come first; when they do not
    // fill the page they are all the matching rows, and the count needs no scan of its own.
    // Through the search index the count is cheap, and it comes first.
    QList<TaskRow> rows;
    bool rowsRead = false;
    if (!matchingKnown && page <= 1 && !viaTrigram) {
        rowsRead = true;
        if (queryRows(userId, 0, -1, false, rows) && rows.size() < m_pageSize) {
            matching = int(rows.size());
            matchingKnown = true;
        }
    }
    if (!matchingKnown) {
        bool counted = false;
        matching = countFilteredTasks(userId, viaTrigram, &counted);
        matchingKnown = counted;
    }
    m_matching.valid = stamped && matchingKnown;
    if (m_matching.valid) {
        m_matching.stamp = stamp;
        m_matching.userId = userId;
        m_matching.filterName = m_filterName;
        m_matching.filterActive = m_filterActive;
        m_matching.total = matching;
    }

    if (countersRead) {
        m_totalCount = m_counters.total;
        m_activeCount = m_counters.active;
        m_inactiveCount = m_counters.inactive;
        emit countsChanged();
    }

    m_totalPages = int(std::max<qint64>(1, (qint64(matching) + m_pageSize - 1) / m_pageSize));
    emit totalPagesChanged();

    const int clamped = std::max(std::min(page, m_totalPages), 1);
    if (clamped != m_currentPage) {
        m_currentPage = clamped;
        emit currentPageChanged();
    }

    if (!rowsRead) {
        const qint64 offset = qint64(m_currentPage - 1) * m_pageSize;
        // The index's matches are looked up one by one and sorted; walking the list in its
        // order reads about (rows to skip and show) x (all tasks / matches) entries instead.
        // A lookup costs about as much as reading eight entries.
        bool sortMatches = false;
        if (viaTrigram && matchingKnown) {
            const qint64 nearer = std::min(offset, std::max<qint64>(0, matching - offset));
            const double walked = double(nearer + m_pageSize) * double(m_totalCount)
                                  / double(std::max(matching, 1));
            sortMatches = 8.0 * double(matching) < walked;
        }
        queryRows(userId, offset, matchingKnown ? matching : -1, sortMatches, rows);
    }
    if (m_model)
        m_model->setRows(std::move(rows));
}

// Whether a task with this name and Done flag is among the matching rows of the filters,
// by SQLite's own LIKE.
bool TaskService::matchesFilters(const QString &name, int active)
{
    if (m_filterActive != -1 && active != m_filterActive)
        return false;
    if (m_filterName.isEmpty())
        return true;
    QSqlQuery &query = statement(QStringLiteral("SELECT :value LIKE :name"));
    query.bindValue(QStringLiteral(":value"), name);
    query.bindValue(QStringLiteral(":name"), likePattern(m_filterName));
    const bool matches = query.exec() && query.next() && query.value(0).toBool();
    query.finish();
    return matches;
}

TaskService::RowState TaskService::rowState(qint64 id)
{
    RowState state;
    QSqlQuery &query = statement(
            QStringLiteral("SELECT active, name FROM tasks WHERE id = :id AND user_id = :uid"));
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    QVariant name;
    if (query.exec() && query.next()) {
        state.exists = true;
        const QVariant active = query.value(0);
        if (!active.isNull()
            && (active.toString() == QLatin1String("0") || active.toString() == QLatin1String("1")))
            state.active = active.toInt();
        name = query.value(1);
    }
    query.finish();
    // A NULL name matches no LIKE pattern.
    if (state.exists)
        state.matches = (m_filterName.isEmpty() || !name.isNull())
                        && matchesFilters(name.toString(), state.active);
    return state;
}

void TaskService::addChange(CountChange &change, const RowState &row, int sign) const
{
    if (!row.exists)
        return;
    change.total += sign;
    if (row.active == 1)
        change.active += sign;
    else if (row.active == 0)
        change.inactive += sign;
    if (row.matches)
        change.matching += sign;
}

// A command succeeds when its statement executes; the current page is then reloaded. Counts
// read just before the command, with nobody else writing in between, are adjusted by what it
// did instead of being read again.
bool TaskService::runCommand(QSqlQuery &query, const CountChange *change)
{
    DataStamp before;
    const int userId = m_auth->userId();
    const bool adjust = change && currentStamp(before) && m_counters.valid
                        && m_counters.userId == userId && m_counters.stamp == before;
    const bool adjustMatching = adjust && change->matchingKnown && m_matching.valid
                                && m_matching.userId == userId && m_matching.stamp == before
                                && m_matching.filterName == m_filterName
                                && m_matching.filterActive == m_filterActive;

    const bool ok = query.exec();
    const int affected = ok ? query.numRowsAffected() : 0;
    query.finish();
    if (!ok)
        return false;

    DataStamp after;
    if (adjust && currentStamp(after) && after.dataVersion == before.dataVersion
        && after.schemaVersion == before.schemaVersion) {
        CountChange applied = *change;
        if (change->perDoneRowRemoved) {
            applied.total = -affected;
            applied.active = -affected;
        }
        m_counters.total += applied.total;
        m_counters.active += applied.active;
        m_counters.inactive += applied.inactive;
        m_counters.stamp = after;
        if (adjustMatching) {
            m_matching.total += applied.matching;
            m_matching.stamp = after;
        }
    }
    loadPage(m_currentPage);
    return true;
}

bool TaskService::createTask(const QString &name, const QDateTime &expireAt, bool active)
{
    if (!ready())
        return false;
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return false;

    CountChange change;
    addChange(change, RowState { true, int(active), matchesFilters(trimmed, int(active)) }, +1);

    QSqlQuery &query = statement(QStringLiteral(
            "\n"
            "        INSERT INTO tasks (user_id, name, active, expire_at, expire_at_epoch)\n"
            "        VALUES (:uid, :name, :active, :expire, :expire_at_epoch)\n"
            "    "));
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    query.bindValue(QStringLiteral(":name"), trimmed);
    query.bindValue(QStringLiteral(":active"), active ? 1 : 0);
    query.bindValue(QStringLiteral(":expire"), dueTimeValue(expireAt));
    query.bindValue(QStringLiteral(":expire_at_epoch"), dueEpochValue(expireAt));
    return runCommand(query, &change);
}

bool TaskService::updateTask(int id, const QString &name, bool active, const QDateTime &expireAt)
{
    if (!ready() || id < 1)
        return false;

    const QString trimmed = name.trimmed();
    const RowState old = rowState(id);
    CountChange change;
    addChange(change, old, -1);
    if (old.exists)
        addChange(change, RowState { true, int(active), matchesFilters(trimmed, int(active)) }, +1);

    QSqlQuery &query = statement(
            QStringLiteral("\n"
                           "        UPDATE tasks\n"
                           "        SET name = :name, active = :active, expire_at = :expire, "
                           "expire_at_epoch = :expire_at_epoch        \n"
                           "        WHERE id = :id AND user_id = :uid\n"
                           "    "));
    query.bindValue(QStringLiteral(":name"), trimmed);
    query.bindValue(QStringLiteral(":active"), active ? 1 : 0);
    query.bindValue(QStringLiteral(":expire"), dueTimeValue(expireAt));
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    query.bindValue(QStringLiteral(":expire_at_epoch"), dueEpochValue(expireAt));
    return runCommand(query, &change);
}

bool TaskService::deleteTask(int id)
{
    if (!ready() || id < 1)
        return false;

    CountChange change;
    addChange(change, rowState(id), -1);

    QSqlQuery &query =
            statement(QStringLiteral("DELETE FROM tasks WHERE id = :id AND user_id = :uid"));
    query.bindValue(QStringLiteral(":id"), id);
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    return runCommand(query, &change);
}

bool TaskService::deleteAllInactive()
{
    if (!ready())
        return false;

    // Every Done task goes: the matching count stays only when it counts pending tasks alone,
    // or when it is one of the counters anyway.
    CountChange change;
    change.perDoneRowRemoved = true;
    change.matchingKnown = m_filterActive == 0;

    QSqlQuery &query = statement(QStringLiteral("\n"
                                                "        DELETE FROM tasks\n"
                                                "        WHERE user_id = :uid AND active = 1\n"
                                                "    "));
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    return runCommand(query, &change);
}

QVariantMap TaskService::nextDueTask(int withinMinutes)
{
    const QList<QVariantMap> due = queryDue(withinMinutes, true);
    return due.isEmpty() ? QVariantMap() : due.first();
}

QList<QVariantMap> TaskService::dueTasks(int withinMinutes)
{
    return queryDue(withinMinutes, false);
}

QList<QVariantMap> TaskService::queryDue(int withinMinutes, bool firstOnly)
{
    QList<QVariantMap> result;
    if (!ready())
        return result;

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 limit = saturatingAdd(now, qint64(withinMinutes) * 60);

    // The reminder check asks for every task in the window; ties in due time go by id so that
    // consecutive checks walk them in a stable order.
    const QString sql =
            firstOnly ? QStringLiteral("\n"
                                       "        SELECT id, name, expire_at_epoch\n"
                                       "        FROM tasks\n"
                                       "        WHERE user_id = :uid\n"
                                       "          AND active = 0\n"
                                       "          AND expire_at_epoch IS NOT NULL\n"
                                       "          AND expire_at_epoch BETWEEN :now AND :lim\n"
                                       "        ORDER BY expire_at_epoch ASC\n"
                                       "        LIMIT 1\n"
                                       "    ")
                      : QStringLiteral("SELECT id, name, expire_at_epoch\n"
                                       "FROM tasks\n"
                                       "WHERE user_id = :uid\n"
                                       "  AND active = 0\n"
                                       "  AND expire_at_epoch IS NOT NULL\n"
                                       "  AND expire_at_epoch BETWEEN :now AND :lim\n"
                                       "ORDER BY expire_at_epoch ASC, id ASC");

    QSqlQuery &query = statement(sql);
    query.bindValue(QStringLiteral(":uid"), m_auth->userId());
    query.bindValue(QStringLiteral(":now"), now);
    query.bindValue(QStringLiteral(":lim"), limit);
    if (!query.exec())
        return result;

    while (query.next()) {
        const qint64 epoch = query.value(2).toLongLong();
        QVariantMap task;
        task.insert(QStringLiteral("id"), query.value(0).toInt());
        task.insert(QStringLiteral("name"), query.value(1).toString());
        task.insert(QStringLiteral("expire_at_text"),
                    QDateTime::fromSecsSinceEpoch(epoch, QTimeZone::utc())
                            .toLocalTime()
                            .toString(QStringLiteral("yyyy-MM-dd HH:mm")));
        task.insert(QStringLiteral("expire_at_epoch"), epoch);
        result.append(task);
    }
    query.finish();
    return result;
}
