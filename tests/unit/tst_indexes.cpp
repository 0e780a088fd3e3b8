// The indexes and the reuse of counts change how fast pages load, never what they hold: every
// page, counter and reminder answer equals what the plain statements give on the same data
// without indexes, and counts follow every write, whoever makes it.
#include "fixture.h"
#include "syncstore.h"
#include "taskdetailssql.h"
#include "tasknameindex.h"
#include "tasksql.h"
#include "tasktransfer.h"
#include "testenv.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QTimeZone>

#include <climits>
#include <memory>

namespace {

// What the task list shows: the counters, the pages and the rows of the current page.
struct Snapshot
{
    int total = 0;
    int active = 0;
    int inactive = 0;
    int totalPages = 0;
    int currentPage = 0;
    QStringList rows; // "id|name|active" per row, in order

    bool operator==(const Snapshot &other) const
    {
        return total == other.total && active == other.active && inactive == other.inactive
               && totalPages == other.totalPages && currentPage == other.currentPage
               && rows == other.rows;
    }
};

char *toString(const Snapshot &s)
{
    return qstrdup(QStringLiteral("counts %1/%2/%3, page %4 of %5, rows [%6]")
                           .arg(s.total)
                           .arg(s.active)
                           .arg(s.inactive)
                           .arg(s.currentPage)
                           .arg(s.totalPages)
                           .arg(s.rows.join(QStringLiteral(", ")))
                           .toUtf8());
}

QString rowText(const QVariant &id, const QVariant &name, const QVariant &active)
{
    return QStringLiteral("%1|%2|%3")
            .arg(id.toInt())
            .arg(name.toString())
            .arg(active.toBool() ? 1 : 0);
}

// The list as the three plain statements give it, run one after the other.
// The orders as the sort choice gives them: newest first; due soonest (tasks without a due time
// last, ties by id); by priority (high first, ties by id, newest first), then the tasks without
// a priority newest first.
QString plainOrder(int order)
{
    return order == 1 ? QStringLiteral(" ORDER BY ifnull(expire_at_epoch, 9223372036854775807), id")
           : order == 2 ? QStringLiteral(" ORDER BY p DESC, CASE WHEN p > 0 THEN id END DESC, "
                                         "create_at DESC, id DESC")
                        : QStringLiteral(" ORDER BY create_at DESC, id DESC");
}

Snapshot plainPage(const QSqlDatabase &db, int userId, const QString &filterName, int filterActive,
                   int pageSize, int page, int order = 0)
{
    QString filters;
    if (!filterName.isEmpty())
        filters += QStringLiteral(" AND name LIKE :name");
    if (filterActive != -1)
        filters += QStringLiteral(" AND active = :active");
    auto bindFilters = [&](QSqlQuery &query) {
        query.bindValue(QStringLiteral(":uid"), userId);
        if (!filterName.isEmpty())
            query.bindValue(QStringLiteral(":name"), QStringLiteral("%%1%").arg(filterName));
        if (filterActive != -1)
            query.bindValue(QStringLiteral(":active"), filterActive);
    };

    Snapshot s;
    QSqlQuery count(db);
    count.prepare(QStringLiteral("SELECT COUNT(*) FROM tasks WHERE user_id = :uid") + filters);
    bindFilters(count);
    const int matching = count.exec() && count.next() ? count.value(0).toInt() : -1;

    QSqlQuery counters(db);
    counters.prepare(QStringLiteral("SELECT COUNT(*), SUM(active = 1), SUM(active = 0) FROM tasks "
                                    "WHERE user_id = :uid"));
    counters.bindValue(QStringLiteral(":uid"), userId);
    if (counters.exec() && counters.next()) {
        s.total = counters.value(0).toInt();
        s.active = counters.value(1).toInt();
        s.inactive = counters.value(2).toInt();
    }
    s.totalPages = std::max(1, (matching + pageSize - 1) / pageSize);
    s.currentPage = std::max(std::min(page, s.totalPages), 1);

    QSqlQuery rows(db);
    rows.prepare(QStringLiteral("SELECT * FROM (SELECT id, name, active, expire_at, create_at, "
                                "ifnull((SELECT priority FROM task_details d WHERE d.task_id = "
                                "tasks.id AND d.priority > 0), 0) AS p, expire_at_epoch FROM "
                                "tasks WHERE user_id = :uid")
                 + filters + QStringLiteral(")") + plainOrder(order)
                 + QStringLiteral(" LIMIT :lim OFFSET :off"));
    bindFilters(rows);
    rows.bindValue(QStringLiteral(":lim"), pageSize);
    rows.bindValue(QStringLiteral(":off"), (s.currentPage - 1) * pageSize);
    if (rows.exec()) {
        while (rows.next())
            s.rows << rowText(rows.value(0), rows.value(1), rows.value(2));
    }
    return s;
}

// The page that holds task id by the plain list statement, or 0.
int plainPageOf(const QSqlDatabase &db, const QString &filterName, int filterActive, int pageSize,
                qint64 id)
{
    QSqlQuery rows(db);
    rows.prepare(QStringLiteral(
            "SELECT id FROM tasks WHERE user_id = 1 AND (IFNULL(:term, '') = '' OR name "
            "LIKE '%' || :term || '%') AND (:active = -1 OR active = :active) "
            "ORDER BY create_at DESC, id DESC"));
    rows.bindValue(QStringLiteral(":term"), filterName);
    rows.bindValue(QStringLiteral(":active"), filterActive);
    if (!rows.exec())
        return -1;
    for (int row = 0; rows.next(); ++row) {
        if (rows.value(0).toLongLong() == id)
            return row / pageSize + 1;
    }
    return 0;
}

Snapshot shownPage(const TaskService &service, const TaskTableModel &model)
{
    Snapshot s;
    s.total = service.totalCount();
    s.active = service.activeCount();
    s.inactive = service.inactiveCount();
    s.totalPages = service.totalPages();
    s.currentPage = service.currentPage();
    for (int row = 0; row < model.rowCountQml(); ++row)
        s.rows << rowText(model.taskIdAt(row), model.nameAt(row), model.activeAt(row));
    return s;
}

QStringList dueNames(const QList<DueTask> &due)
{
    QStringList names;
    for (const DueTask &task : due)
        names << QString::number(task.id);
    return names;
}

} // namespace

class TestIndexes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void schemaGainsIndexesOnly();
    void tablesOfAnotherShapeLeftAlone();
    void samePages_data();
    void samePages();
    void sameReminderAnswers();
    void countsFollowWrites_data();
    void countsFollowWrites();
    void randomWritesShowPlainResults_data();
    void randomWritesShowPlainResults();
    void searchIndexFilledInSlices();
    void namesInMemoryMatchAsLike();

private:
    bool openService(const QString &path);

    QString m_fixture; // tables and rows as a file without indexes holds them
    QString m_plainPath;
    QString m_indexedPath;
    std::unique_ptr<TaskServices> m_app;
};

// Two accounts; ann's tasks come in groups created in the same second, ids not in creation
// order, with names that exercise LIKE, some Done, some without due time, and due-time ties.
void TestIndexes::initTestCase()
{
    m_fixture = testEnvironment.newDatabasePath();
    {
        DbManager db;
        QVERIFY(db.open(m_fixture));
        db.initSchema();
        AuthService auth(&db);
        QVERIFY(auth.registerUser(QStringLiteral("ann"), kTestPassword, QStringLiteral("Ann")));
        QVERIFY(auth.registerUser(QStringLiteral("bob"), kTestPassword, QStringLiteral("Bob")));

        const QStringList names { "Buy milk",  "buy MILK", "Ärger",    "ärger", "100% done",
                                  "a_b",       "axb",      "exact",    "",      "Call Bob",
                                  "Review PR", "exact",    "Pay rent", "exact", "Milkshake",
                                  "exact",     "Walk",     "exact",    "Read",  "Book flight" };
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QSqlQuery insert(db.database());
        insert.prepare(QStringLiteral(
                "INSERT INTO tasks (user_id, name, active, expire_at_epoch, create_at) "
                "VALUES (?, ?, ?, ?, datetime('2026-03-01 08:00:00', ? || ' seconds'))"));
        for (int i = 0; i < 157; ++i) {
            const bool ann = i % 5 != 4;
            insert.addBindValue(ann ? 1 : 2);
            insert.addBindValue(i % 23 == 0 ? QVariant(QMetaType::fromType<QString>())
                                            : QVariant(names.at(i % names.size())));
            insert.addBindValue(i % 3 == 0 ? 1 : 0);
            // Due times in the next ten minutes, several at the same second; some none.
            insert.addBindValue(i % 7 == 0 ? QVariant(QMetaType::fromType<qint64>())
                                           : QVariant(now + 60 + (i % 4) * 120));
            // Four tasks per second, and seconds not in the order of the ids.
            insert.addBindValue((i * 37 % 157) / 4);
            QVERIFY(insert.exec());
        }
        // Priorities, several alike, on some of ann's tasks; a few saved as none.
        QVERIFY(insert.exec(QStringLiteral(
                "INSERT INTO task_details (task_id, user_id, priority) SELECT id, user_id, "
                "id % 4 FROM tasks WHERE user_id = 1 AND id % 3 = 1")));
        // As an earlier version left the file: tables only.
        for (const char *sql :
             { "DROP INDEX idx_tasks_user_created", "DROP INDEX idx_tasks_user_due",
               "DROP INDEX idx_tasks_user_name", "DROP TABLE tasks_trigram",
               "DROP TRIGGER tasks_trigram_insert", "DROP TRIGGER tasks_trigram_update",
               "DROP TRIGGER tasks_trigram_delete" })
            QVERIFY(insert.exec(QLatin1String(sql)));
    }
    releaseDefaultConnection();
}

void TestIndexes::init()
{
    m_plainPath = testEnvironment.newDatabasePath();
    m_indexedPath = testEnvironment.newDatabasePath();
    QVERIFY(QFile::copy(m_fixture, m_plainPath));
    QVERIFY(QFile::copy(m_fixture, m_indexedPath));
}

void TestIndexes::cleanup()
{
    m_app.reset();
    releaseDefaultConnection();
    QSqlDatabase::removeDatabase(QStringLiteral("plain"));
}

// Opens path as the program does (tables and indexes made when missing) and signs in as ann.
bool TestIndexes::openService(const QString &path)
{
    m_app = std::make_unique<TaskServices>(path);
    return m_app->opened && m_app->auth.login(QStringLiteral("ann"), kTestPassword);
}

void TestIndexes::schemaGainsIndexesOnly()
{
    QVERIFY(openService(m_indexedPath));
    QSqlQuery query(m_app->db.database());
    QVERIFY(query.exec(QStringLiteral("SELECT name, tbl_name FROM sqlite_master "
                                      "WHERE type = 'index' AND sql IS NOT NULL "
                                      "AND tbl_name IN ('tasks', 'task_details', 'task_tags') "
                                      "ORDER BY name")));
    QStringList indexes;
    while (query.next())
        indexes << query.value(0).toString() + QLatin1Char(':') + query.value(1).toString();
    QCOMPARE(indexes, (QStringList { "idx_task_details_priority:task_details",
                                     "idx_task_tags_task:task_tags", "idx_tasks_user_created:tasks",
                                     "idx_tasks_user_due:tasks", "idx_tasks_user_name:tasks",
                                     "idx_tasks_user_soonest:tasks" }));

    // The list and the reminder query read through them.
    auto plan = [&](const QString &sql) {
        QSqlQuery explain(m_app->db.database());
        explain.exec(QStringLiteral("EXPLAIN QUERY PLAN ") + sql);
        QString text;
        while (explain.next())
            text += explain.value(3).toString();
        return text;
    };
    QVERIFY(plan("SELECT id, name, active, expire_at, create_at FROM tasks WHERE user_id = 1 "
                 "AND name LIKE '%x%' ORDER BY create_at DESC, id DESC LIMIT 5 OFFSET 0")
                    .contains(QLatin1String("idx_tasks_user_created")));
    QVERIFY(plan("SELECT id FROM tasks WHERE user_id = 1 AND active = 0 AND expire_at_epoch IS "
                 "NOT NULL AND expire_at_epoch BETWEEN 1 AND 2 ORDER BY expire_at_epoch")
                    .contains(QLatin1String("idx_tasks_user_due")));
    // The reminder check looks at the tasks due in its window and at one key per lead.
    for (const QString &sql :
         { TaskSql::dueAtAccountLead(), TaskSql::nextReminderLead(), TaskSql::dueAtLead() }) {
        const QString steps = plan(sql);
        QVERIFY2(!steps.contains(QRegularExpression(QStringLiteral("SCAN (tasks|t|r|task_"
                                                                   "reminders)( |$)"))),
                 qPrintable(steps));
    }
    // Each order of the list reads an index in its order, never sorting the account's tasks (a
    // tag filter sorts the tasks of the tag).
    for (bool filtered : { false, true }) {
        for (const QString &sql :
             { TaskSql::pageRowsSoonest(filtered, filtered, false, filtered),
               TaskDetailsSql::pageRowsByPriority(filtered, filtered, false, filtered) }) {
            QVERIFY2(!plan(sql).contains(QLatin1String("TEMP B-TREE")), qPrintable(plan(sql)));
        }
    }

    // The search index holds every task, with its triggers.
    QCOMPARE(m_app->scalar("SELECT COUNT(*) FROM tasks_trigram").toInt(), 157);
    QCOMPARE(m_app->scalar("SELECT COUNT(*) FROM sqlite_master WHERE type = 'trigger' "
                           "AND name LIKE 'tasks_trigram_%'")
                     .toInt(),
             3);

    // Opening again changes nothing, and rows written by another program keep the indexes
    // in step.
    const QVariant objects = m_app->scalar("SELECT COUNT(*) FROM sqlite_master");
    m_app->db.initSchema();
    QCOMPARE(m_app->scalar("SELECT COUNT(*) FROM sqlite_master"), objects);
    QCOMPARE(m_app->scalar("SELECT COUNT(*) FROM tasks_trigram").toInt(), 157);
    QVERIFY(query.exec(QStringLiteral("INSERT INTO tasks_trigram (tasks_trigram) "
                                      "VALUES ('integrity-check')")));
    QVERIFY(query.exec(QStringLiteral("PRAGMA integrity_check")));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("ok"));
}

// A file whose tasks table has other columns is used as it is: no index, no change.
void TestIndexes::tablesOfAnotherShapeLeftAlone()
{
    {
        QSqlDatabase other =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plain"));
        other.setDatabaseName(m_plainPath + QStringLiteral(".other"));
        QVERIFY(other.open());
        QSqlQuery query(other);
        QVERIFY(query.exec(QStringLiteral("CREATE TABLE tasks (id INTEGER PRIMARY KEY, title)")));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("plain"));

    DbManager db;
    QVERIFY(db.open(m_plainPath + QStringLiteral(".other")));
    db.initSchema();
    QSqlQuery query(db.database());
    QVERIFY(query.exec(QStringLiteral("SELECT type, name, sql FROM sqlite_master "
                                      "WHERE tbl_name = 'tasks'")));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("table"));
    QCOMPARE(query.value(2).toString(),
             QStringLiteral("CREATE TABLE tasks (id INTEGER PRIMARY KEY, title)"));
    QVERIFY(!query.next());
}

void TestIndexes::samePages_data()
{
    QTest::addColumn<QString>("filterName");
    QTest::addColumn<int>("filterActive");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("order");
    QTest::addColumn<bool>("namesInMemory");

    QTest::newRow("all, first page") << "" << -1 << 25 << 1 << 0 << false;
    QTest::newRow("all, a middle page") << "" << -1 << 10 << 7 << 0 << false;
    QTest::newRow("all, beyond the last page") << "" << -1 << 25 << 99 << 0 << false;
    QTest::newRow("same-second rows across page ends") << "" << -1 << 3 << 9 << 0 << false;
    QTest::newRow("Done only") << "" << 1 << 10 << 2 << 0 << false;
    QTest::newRow("pending only, last page") << "" << 0 << 7 << INT_MAX << 0 << false;
    QTest::newRow("search, ASCII case folded") << "MILK" << -1 << 5 << 2 << 0 << false;
    QTest::newRow("search, percent wildcard") << "%" << -1 << 25 << 2 << 0 << false;
    QTest::newRow("search, underscore wildcard") << "a_b" << -1 << 25 << 1 << 0 << false;
    QTest::newRow("search, non-ASCII in its own case") << "ärger" << -1 << 25 << 1 << 0 << false;
    QTest::newRow("search and Done") << "buy" << 1 << 3 << 2 << 0 << false;
    QTest::newRow("search, no match") << "zzz" << -1 << 25 << 1 << 0 << false;
    QTest::newRow("matches fewer than a page") << "exact" << -1 << 40 << 1 << 0 << false;
    QTest::newRow("matches exactly one page") << "exact" << -1 << 38 << 1 << 0 << false;
    QTest::newRow("matches one more than a page") << "exact" << -1 << 37 << 1 << 0 << false;
    QTest::newRow("matches, second page") << "exact" << -1 << 37 << 2 << 0 << false;
    QTest::newRow("all, past the middle, same-second rows") << "" << -1 << 3 << 30 << 0 << false;
    QTest::newRow("pending only, the page before the last") << "" << 0 << 4 << 20 << 0 << false;
    QTest::newRow("search by the trigram index, past the middle")
            << "exact" << -1 << 5 << 6 << 0 << false;
    QTest::newRow("search by the trigram index, wildcard inside")
            << "ilk%ha" << -1 << 25 << 1 << 0 << false;
    QTest::newRow("search by the trigram index, non-ASCII case")
            << "ÄRGER" << -1 << 4 << 2 << 0 << false;
    QTest::newRow("search by the trigram index, Done, last page")
            << "exact" << 1 << 2 << 99 << 0 << false;
    QTest::newRow("search, runs of two between wildcards") << "uy_mi" << -1 << 3 << 2 << 0 << false;
    // The "due soonest" order: its search walks the list in that order while matches are
    // dense, and sorts the matches alone (by the names held, or the trigram index) when few.
    QTest::newRow("due soonest, a middle page, due-time ties") << "" << -1 << 4 << 9 << 1 << false;
    QTest::newRow("due soonest, dense matches, names held") << "exact" << -1 << 5 << 2 << 1 << true;
    QTest::newRow("due soonest, dense matches, ties, last page")
            << "exact" << -1 << 4 << 99 << 1 << true;
    QTest::newRow("due soonest, sparse matches, names held") << "rent" << -1 << 5 << 1 << 1 << true;
    QTest::newRow("due soonest, sparse matches, from the end")
            << "rent" << -1 << 3 << 2 << 1 << true;
    QTest::newRow("due soonest, sparse matches, trigram index")
            << "rent" << -1 << 5 << 1 << 1 << false;
    QTest::newRow("due soonest, dense matches, trigram index")
            << "exact" << -1 << 5 << 3 << 1 << false;
    QTest::newRow("due soonest, no match, names held") << "zzz" << -1 << 25 << 1 << 1 << true;
    QTest::newRow("due soonest, search and Done, names held")
            << "exact" << 1 << 2 << 3 << 1 << true;
    QTest::newRow("due soonest, short term, names held") << "mi" << 0 << 3 << 2 << 1 << true;
    // The "priority" order, paged across the end of the tasks with a priority.
    QTest::newRow("priority, all, pages across the parts") << "" << -1 << 3 << 12 << 2 << false;
    QTest::newRow("priority, past the middle") << "" << -1 << 4 << 20 << 2 << false;
    QTest::newRow("priority, search and Done") << "exact" << 1 << 2 << 2 << 2 << true;
    QTest::newRow("priority, pending, flips in the middle") << "" << 0 << 2 << 20 << 2 << false;
}

// The service on the indexed file, brought to the page by typing and flipping, shows what the
// plain statements give on the file without indexes.
void TestIndexes::samePages()
{
    QFETCH(QString, filterName);
    QFETCH(int, filterActive);
    QFETCH(int, pageSize);
    QFETCH(int, page);
    QFETCH(int, order);
    QFETCH(bool, namesInMemory);

    QSqlDatabase plain =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plain"));
    plain.setDatabaseName(m_plainPath);
    QVERIFY(plain.open());
    QSqlQuery exact(plain);
    QVERIFY(exact.exec(QStringLiteral("SELECT COUNT(*) FROM tasks WHERE user_id = 1 AND name = "
                                      "'exact'")));
    QVERIFY(exact.next());
    QCOMPARE(exact.value(0).toInt(), 38); // the page sizes of the "exact" rows rely on it
    const Snapshot expected = plainPage(plain, 1, filterName, filterActive, pageSize, page, order);

    QVERIFY(openService(m_indexedPath));
    QCOMPARE(m_app->auth.userId(), 1);
    if (namesInMemory)
        m_app->tasks.setNameIndexLimits(0, 50, 0);
    m_app->tasks.setPageSize(pageSize);
    m_app->tasks.setSortOrder(order);
    m_app->tasks.loadPage(3);
    if (namesInMemory)
        QTRY_VERIFY(m_app->tasks.nameIndexReady());
    for (int length = 1; length <= filterName.size(); ++length)
        m_app->tasks.setFilterName(filterName.left(length));
    m_app->tasks.setFilterActive(filterActive);
    m_app->tasks.loadPage(page);
    QCOMPARE(shownPage(m_app->tasks, m_app->model), expected);

    // Flipping away and back shows the same page again, from either side.
    for (const int away : { page == 1 ? 3 : 1, qMin(page, INT_MAX - 1) + 1, page - 1 }) {
        m_app->tasks.loadPage(away);
        m_app->tasks.loadPage(page);
        QCOMPARE(shownPage(m_app->tasks, m_app->model), expected);
    }
}

void TestIndexes::sameReminderAnswers()
{
    QVERIFY(openService(m_plainPath));
    QSqlQuery query(m_app->db.database());
    // The plain file stays without indexes.
    QVERIFY(query.exec(QStringLiteral("DROP INDEX idx_tasks_user_created")));
    QVERIFY(query.exec(QStringLiteral("DROP INDEX idx_tasks_user_due")));
    QVERIFY(query.exec(QStringLiteral("DROP INDEX idx_tasks_user_name")));
    const QVariantMap plainNext = m_app->tasks.nextDueTask(10);
    const QStringList plainDue = dueNames(m_app->tasks.dueTasks(10));
    cleanup();

    QVERIFY(openService(m_indexedPath));
    QVERIFY(!plainNext.isEmpty());
    QVERIFY(plainDue.size() > 10);
    QCOMPARE(m_app->tasks.nextDueTask(10), plainNext);
    QCOMPARE(dueNames(m_app->tasks.dueTasks(10)), plainDue);
}

void TestIndexes::countsFollowWrites_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<QString>("filterName");
    QTest::addColumn<QString>("sql");

    const QString add = QStringLiteral("INSERT INTO tasks (user_id, name, active, create_at) "
                                       "VALUES (1, 'exact milk', 1, '2030-01-01 00:00:00')");
    const QString remove =
            QStringLiteral("DELETE FROM tasks WHERE user_id = 1 AND active = 0 AND id % 2 = 0");
    const QString allDone = QStringLiteral("UPDATE tasks SET active = 1 WHERE user_id = 1");
    const QString rename = QStringLiteral("UPDATE tasks SET name = 'other' WHERE name = 'exact'");
    for (const QString &filter : { QString(), QStringLiteral("exact") }) {
        const char *suffix = filter.isEmpty() ? ", no search" : ", searching";
        QTest::addRow("another connection adds a Done task%s", suffix)
                << "connection" << filter << add;
        QTest::addRow("another connection deletes pending tasks%s", suffix)
                << "connection" << filter << remove;
        QTest::addRow("another connection marks all Done%s", suffix)
                << "connection" << filter << allDone;
        QTest::addRow("another connection renames tasks%s", suffix)
                << "connection" << filter << rename;
        QTest::addRow("the same connection, outside the service%s", suffix)
                << "same" << filter << remove;
        QTest::addRow("another program adds a Done task%s", suffix) << "program" << filter << add;
        QTest::addRow("another connection drops an index%s", suffix)
                << "connection" << filter << "DROP INDEX idx_tasks_user_due";
        // Through the task store, whose announcement reloads the list: the ids the query picks.
        QTest::addRow("the sync adds a Done task%s", suffix) << "sync adds" << filter << "";
        QTest::addRow("the sync deletes pending tasks%s", suffix)
                << "sync deletes" << filter
                << "SELECT id FROM tasks WHERE user_id = 1 AND active = 0 AND id % 2 = 0";
        QTest::addRow("the sync renames tasks and marks them Done%s", suffix)
                << "sync renames" << filter << "SELECT id FROM tasks WHERE name = 'exact'";
        QTest::addRow("an import adds a task%s", suffix) << "import" << filter << "";
    }
}

// Counts read before a write are not shown after it, whoever writes.
void TestIndexes::countsFollowWrites()
{
    QFETCH(QString, writer);
    QFETCH(QString, filterName);
    QFETCH(QString, sql);

    QVERIFY(openService(m_indexedPath));
    m_app->tasks.setPageSize(10);
    m_app->tasks.setFilterName(filterName);
    m_app->tasks.loadPage(2);
    m_app->tasks.loadPage(1);
    m_app->tasks.loadPage(2);

    if (writer == QLatin1String("program")) {
        QProcess sqlite;
        sqlite.start(QStringLiteral("sqlite3"), { m_indexedPath, sql });
        if (!sqlite.waitForFinished(10000) || sqlite.exitCode() != 0)
            QSKIP("the sqlite3 command-line tool is not available");
    } else if (writer == QLatin1String("same")) {
        QSqlQuery query(m_app->db.database());
        QVERIFY(query.exec(sql));
    } else if (writer.startsWith(QLatin1String("sync"))) {
        SyncStore sync(m_app->db.database(), &m_app->store);
        QList<qint64> ids;
        for (QSqlQuery query(sql, m_app->db.database()); query.next();)
            ids << query.value(0).toLongLong();
        QVERIFY(sync.transaction());
        if (writer == QLatin1String("sync adds"))
            QVERIFY(sync.insertTask(1, { "exact milk", true, {} }, QDateTime()) > 0);
        for (const qint64 id : std::as_const(ids))
            QVERIFY(writer == QLatin1String("sync deletes")
                            ? sync.deleteTask(1, id)
                            : sync.updateTask(1, id, { "other", true, {} }));
        QVERIFY(sync.commit());
    } else if (writer == QLatin1String("import")) {
        TaskTransfer transfer(&m_app->db, &m_app->auth, &m_app->store);
        QVERIFY(transfer.importCalendar("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//T//T//EN\r\n"
                                        "BEGIN:VTODO\r\nUID:a\r\nSUMMARY:exact tea\r\n"
                                        "END:VTODO\r\nEND:VCALENDAR\r\n")
                        .ok);
    } else {
        QSqlDatabase other =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plain"));
        other.setDatabaseName(m_indexedPath);
        QVERIFY(other.open());
        QSqlQuery query(other);
        QVERIFY(query.exec(sql));
    }

    QSqlDatabase reader =
            QSqlDatabase::contains(QStringLiteral("plain"))
                    ? QSqlDatabase::database(QStringLiteral("plain"))
                    : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plain"));
    reader.setDatabaseName(m_indexedPath);
    QVERIFY(reader.open());
    // What the store announced is shown already, and a page load after it shows the same.
    if (writer.startsWith(QLatin1String("sync")) || writer == QLatin1String("import"))
        QCOMPARE(shownPage(m_app->tasks, m_app->model),
                 plainPage(reader, 1, filterName, -1, 10, 2));
    m_app->tasks.loadPage(2);
    QCOMPARE(shownPage(m_app->tasks, m_app->model), plainPage(reader, 1, filterName, -1, 10, 2));
}

void TestIndexes::randomWritesShowPlainResults_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("namesInMemory");
    // Each delete is followed by "Delete Done": the first finds Done tasks, most later ones
    // none, and both close the gaps deletes left among the names held.
    QTest::addColumn<bool>("sweepAfterDelete");
    for (quint32 seed = 1; seed <= 4; ++seed) {
        QTest::addRow("seed %u", seed) << seed << false << false;
        QTest::addRow("seed %u, names in memory", seed) << seed << true << false;
        QTest::addRow("seed %u, names in memory, Delete Done after deletes", seed)
                << seed << true << true;
    }
}

// The program's own commands, another connection's writes, searches, filters and page jumps in
// a random order: after each step the list shows what the plain statements give.
void TestIndexes::randomWritesShowPlainResults()
{
    QFETCH(quint32, seed);
    QFETCH(bool, namesInMemory);
    QFETCH(bool, sweepAfterDelete);
    QRandomGenerator random(seed);
    QVERIFY(openService(m_indexedPath));
    // Read a few names per turn of the event loop, so that writes come while they are read.
    if (namesInMemory)
        m_app->tasks.setNameIndexLimits(0, 30, 0);
    int searchesInMemory = 0;
    QSqlDatabase other =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plain"));
    other.setDatabaseName(m_indexedPath);
    QVERIFY(other.open());
    QSqlQuery write(other);

    const QStringList names { "Buy milk", "buy MILK", "Ärger", "ärger",     "100% done", "a_b",
                              "axb",      "exact",    "",      "Milkshake", "Übersicht", "x" };
    const QStringList terms { "",  "milk", "MILK", "ärger", "ÄRG", "exact", "x",     "%",
                              "_", "a_b",  "100%", "ilk%h", "zzz", "k",     "xact%", "übers" };
    auto pick = [&](const QStringList &list) { return list.at(random.bounded(int(list.size()))); };
    TaskService &tasks = m_app->tasks;
    tasks.loadPage(1);
    for (int step = 0; step < 150; ++step) {
        for (int turn = 0; turn < 3; ++turn)
            QCoreApplication::processEvents();
        if (tasks.nameIndexReady() && !tasks.filterName().isEmpty())
            ++searchesInMemory;
        int page = tasks.currentPage();
        const QString name = pick(names);
        const int id = random.bounded(1, 200);
        switch (random.bounded(9)) {
        case 0:
            tasks.createTask(name, QDateTime::currentDateTime(), random.bounded(2));
            break;
        case 1:
            tasks.updateTask(id, name, random.bounded(2), QDateTime());
            break;
        case 2:
            // As a person does: delete a task the search shows, then "Delete Done".
            if (sweepAfterDelete && m_app->model.rowCountQml() > 0) {
                tasks.deleteTask(m_app->model.taskIdAt(random.bounded(m_app->model.rowCountQml())));
                tasks.deleteAllInactive();
            } else {
                tasks.deleteTask(id);
            }
            break;
        case 3:
            if (random.bounded(4) == 0)
                tasks.deleteAllInactive();
            break;
        case 4: {
            const QString term = pick(terms);
            if (term != tasks.filterName())
                page = 1;
            tasks.setFilterName(term);
            break;
        }
        case 5: {
            const int filter = random.bounded(3) - 1;
            if (filter != tasks.filterActive())
                page = 1;
            tasks.setFilterActive(filter);
            break;
        }
        case 6:
            page = QList<int> { 0,
                                1,
                                tasks.totalPages(),
                                tasks.totalPages() / 2,
                                tasks.totalPages() - 1,
                                tasks.currentPage() + 1,
                                tasks.currentPage() - 1,
                                tasks.totalPages() + 3 }
                           .at(random.bounded(8));
            if (random.bounded(3) == 0)
                tasks.setPageSize(random.bounded(1, 12));
            tasks.loadPage(page);
            break;
        default: {
            // Another writer: rows of both accounts, created in the same seconds as others or
            // without a creation time, with Done flags the program never writes.
            const QVariant active =
                    QList<QVariant> { 0, 1, 1, 0, 2, QVariant() }.at(random.bounded(6));
            write.prepare(QList<QString> {
                    "INSERT INTO tasks (user_id, name, active, create_at) VALUES (?, ?, ?, "
                    "datetime('2026-03-01 08:00:00', ? || ' seconds'))",
                    "UPDATE tasks SET name = ?, active = ? WHERE id = ?",
                    "DELETE FROM tasks WHERE id = ?" }
                                  .at(random.bounded(3)));
            // Now and then a name LIKE reads as text, or one stored as bytes.
            const QVariant stored =
                    QList<QVariant> { name, name, name, name, name, name, 100, QByteArray("milk") }
                            .at(random.bounded(8));
            const QList<QVariant> values { random.bounded(1, 3), stored, active,
                                           random.bounded(8) == 0 ? QVariant()
                                                                  : QVariant(random.bounded(40)) };
            if (write.lastQuery().startsWith(QLatin1String("INSERT"))) {
                for (const QVariant &value : values)
                    write.addBindValue(value);
            } else if (write.lastQuery().startsWith(QLatin1String("UPDATE"))) {
                write.addBindValue(stored);
                write.addBindValue(active);
                write.addBindValue(id);
            } else {
                write.addBindValue(id);
            }
            QVERIFY2(write.exec(), qPrintable(write.lastError().text()));
            tasks.loadPage(page);
            break;
        }
        }
        QCOMPARE(shownPage(tasks, m_app->model),
                 plainPage(other, 1, tasks.filterName(), tasks.filterActive(), tasks.pageSize(),
                           page));
        QCOMPARE(tasks.pageOfTask(id), plainPageOf(other, tasks.filterName(), tasks.filterActive(),
                                                   tasks.pageSize(), id));
    }
    QVERIFY(!namesInMemory || searchesInMemory > 0);
}

// The search index of a file written without it is filled a slice at a time from the event
// loop while others write; once full, searches through it show what the plain statements give.
void TestIndexes::searchIndexFilledInSlices()
{
    {
        DbManager db;
        QVERIFY(db.open(m_plainPath));
        db.initTables();
        QSqlQuery insert(db.database());
        QVERIFY(insert.exec(QStringLiteral(
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2500) "
                "INSERT INTO tasks (user_id, name, active, create_at) SELECT 1, 'milk run ' || i, "
                "i % 2, datetime('2026-01-01', i || ' minutes') FROM n")));
        db.createIndexes(true);
        const QString filling = QStringLiteral(
                "SELECT COUNT(*) FROM sqlite_master WHERE name = 'tasks_trigram_fill'");
        // One index or slice per turn of the event loop: the writes below come while the rows
        // are being filled in.
        for (int turn = 0; turn < 10 && scalar(db.database(), filling).toInt() == 0; ++turn)
            QCoreApplication::processEvents();
        QCOMPARE(scalar(db.database(), filling).toInt(), 1);

        QSqlDatabase other =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plain"));
        other.setDatabaseName(m_plainPath);
        QVERIFY(other.open());
        QSqlQuery write(other);
        QVERIFY(write.exec(QStringLiteral("UPDATE tasks SET name = 'zebra one' WHERE id = 2000")));
        QVERIFY(write.exec(QStringLiteral("UPDATE tasks SET name = 'milk' WHERE id = 3")));
        QVERIFY(write.exec(QStringLiteral("DELETE FROM tasks WHERE id IN (1500, 4)")));
        QVERIFY(write.exec(
                QStringLiteral("INSERT INTO tasks (user_id, name) VALUES (1, 'zebra')")));
        QTRY_COMPARE(scalar(db.database(), filling).toInt(), 0);
    }
    releaseDefaultConnection();

    QVERIFY(openService(m_plainPath));
    m_app->tasks.setPageSize(25);
    const QSqlDatabase other = QSqlDatabase::database(QStringLiteral("plain"));
    for (const QString term : { "zebra", "milk", "run 15", "ilk run 4" }) {
        m_app->tasks.setFilterName(term);
        m_app->tasks.loadPage(2);
        QCOMPARE(shownPage(m_app->tasks, m_app->model), plainPage(other, 1, term, -1, 25, 2));
    }
}

// Names of random bytes (broken UTF-8, NUL, either case) and random patterns: the names held
// in memory match exactly where SQLite's LIKE does.
void TestIndexes::namesInMemoryMatchAsLike()
{
    const QList<QByteArray> pieces { "a",
                                     "A",
                                     "b",
                                     "%",
                                     "_",
                                     "\xc3\xa9",
                                     "\xc3\x89",
                                     "\xc3",
                                     "\xa9",
                                     "\xe2\x82",
                                     "\xff",
                                     "\xef\xbf\xbe",
                                     "\xed\xa0\x80",
                                     "\xf0\x9f\x98\x80",
                                     QByteArray(1, '\0') };
    const QStringList patternPieces { "a", "A", "b", "%", "_", "é", "É", "😀", QString(QChar(0)) };
    QRandomGenerator random(7);
    DbManager db;
    QVERIFY(db.open(testEnvironment.newDatabasePath()));
    QSqlQuery like(db.database());
    QVERIFY(like.prepare(QStringLiteral("SELECT CAST(? AS TEXT) LIKE ?")));

    TaskNameIndex index;
    index.begin(1);
    QList<QByteArray> names;
    for (int i = 0; i < 300; ++i) {
        QByteArray name("");
        for (int n = random.bounded(6); n > 0; --n)
            name += pieces.at(random.bounded(int(pieces.size())));
        names << name;
        index.append(i + 1, name, true, i % 3 - 1);
    }
    index.finish(DataStamp {});
    for (int round = 0; round < 200; ++round) {
        QString term;
        for (int n = random.bounded(1, 4); n > 0; --n)
            term += patternPieces.at(random.bounded(int(patternPieces.size())));
        const QString pattern = QStringLiteral("%") + term + QStringLiteral("%");
        QVERIFY(TaskNameIndex::answers(pattern));
        const int filter = random.bounded(3) - 1;
        std::vector<quint32> expected;
        for (int i = 0; i < names.size(); ++i) {
            like.addBindValue(names.at(i));
            like.addBindValue(pattern);
            QVERIFY(like.exec() && like.next());
            if (like.value(0).toInt() == 1 && (filter == -1 || i % 3 - 1 == filter))
                expected.push_back(quint32(i));
        }
        QCOMPARE(index.match(pattern, filter), expected);
        // A keystroke that added to the term: the matches of the shorter term narrowed down.
        const QString wider = QStringLiteral("%") + term.left(random.bounded(int(term.size())))
                              + QStringLiteral("%");
        if (TaskNameIndex::narrows(pattern, wider)) {
            const std::vector<quint32> before = index.match(wider, filter);
            QCOMPARE(index.match(pattern, filter, &before), expected);
        }
    }
}

QTEST_GUILESS_MAIN(TestIndexes)
#include "tst_indexes.moc"
