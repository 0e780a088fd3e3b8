#include "fixture.h"
#include "syncstore.h"
#include "tasktransfer.h"
#include "testenv.h"

#include <QAbstractItemModelTester>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlRecord>
#include <QTest>
#include <QTimeZone>

#include <climits>
#include <memory>

namespace {

const QStringList kLoadSignals { "countsChanged", "totalPagesChanged", "modelAboutToBeReset",
                                 "modelReset" };

} // namespace

class TestTaskService : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void emptyAccount();
    void pageCount_data();
    void pageCount();
    void pageClamping_data();
    void pageClamping();
    void rowsNewestFirstAndPaged();
    void deletingLastRowOfLastPageClamps();
    void countersIgnoreFilters();
    void likeSemantics_data();
    void likeSemantics();
    void filterNameTrimAndNoOp();
    void filterActiveNormalisesAndNoOp();
    void pageSizeBoundsAndPersistence();
    void storedPageSize_data();
    void storedPageSize();
    void createRefusesBlankName();
    void createStoresUtcTextAndEpoch_data();
    void createStoresUtcTextAndEpoch();
    void invalidDueTimeIsNull();
    void updateAndDelete();
    void detailsTagFilterAndDueOrder();
    void repeatingTaskDone_data();
    void repeatingTaskDone();
    void otherAccountsTasksUntouched();
    void idsBelowOneRefused();
    void largeIds_data();
    void largeIds();
    void deleteAllInactiveAcrossPagesAndFilters();
    void nextDueWindow_data();
    void nextDueWindow();
    void nextDuePicksEarliestAndSkipsDone();
    void dueTasksListsEveryTaskInOrder();
    void createdAtShownInLocalTime();
    void rowsWrittenByAnotherProgram();
    void signedOutRefusesEverything();
    void undoRestoresTheRows_data();
    void undoRestoresTheRows();
    void undoStackAndWindow();
    void deleteAccountRemovesEveryRow();

private:
    bool importFile(bool newOnly);
    int signUp(const QString &user) { return ::signUp(m_app->auth, user); }
    // The signals a call sends, in order, from the service and the model.
    QStringList recordLoad(const std::function<void()> &action);
    int scalar(const QString &sql) const
    {
        const QVariant value = m_app->scalar(sql);
        return value.isValid() ? value.toInt() : INT_MIN;
    }

    std::unique_ptr<TaskServices> m_app;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    int m_userId = -1;
};

void TestTaskService::init()
{
    appSettings().clear();
    m_app = std::make_unique<TaskServices>(testEnvironment.newDatabasePath());
    QVERIFY(m_app->opened);
    m_tester = std::make_unique<QAbstractItemModelTester>(
            &m_app->model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_userId = signUp(QStringLiteral("ann"));
    QVERIFY(m_userId > 0);
}

void TestTaskService::cleanup()
{
    m_tester.reset();
    m_app.reset();
    releaseDefaultConnection();
}

QStringList TestTaskService::recordLoad(const std::function<void()> &action)
{
    SignalOrder order;
    order.watch(&m_app->tasks, &TaskService::countsChanged, &TaskService::totalPagesChanged,
                &TaskService::currentPageChanged, &TaskService::pageSizeChanged,
                &TaskService::filterNameChanged, &TaskService::filterActiveChanged);
    order.watch(&m_app->model, &QAbstractItemModel::modelAboutToBeReset,
                &QAbstractItemModel::modelReset);
    action();
    return order.take();
}

void TestTaskService::emptyAccount()
{
    const QStringList order = recordLoad([this] { m_app->tasks.loadPage(1); });
    QCOMPARE(order, kLoadSignals);
    QCOMPARE(m_app->tasks.totalPages(), 1);
    QCOMPARE(m_app->tasks.currentPage(), 1);
    QCOMPARE(m_app->tasks.totalCount(), 0);
    QCOMPARE(m_app->tasks.activeCount(), 0);
    QCOMPARE(m_app->tasks.inactiveCount(), 0);
    QCOMPARE(m_app->model.rowCount(), 0);
}

void TestTaskService::pageCount_data()
{
    QTest::addColumn<int>("tasks");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("rowsOnLastPage");
    QTest::addColumn<QString>("firstOnLastPage"); // newest first: "task <tasks>" ... "task 1"

    QTest::newRow("50 at 25") << 50 << 25 << 2 << 25 << "task 25";
    QTest::newRow("51 at 25") << 51 << 25 << 3 << 1 << "task 1";
    QTest::newRow("1 at 1") << 1 << 1 << 1 << 1 << "task 1";
    QTest::newRow("3 at 1") << 3 << 1 << 3 << 1 << "task 1";
    QTest::newRow("7 at 10") << 7 << 10 << 1 << 7 << "task 7";
    QTest::newRow("3 at INT_MAX") << 3 << INT_MAX << 1 << 3 << "task 3";
}

void TestTaskService::pageCount()
{
    QFETCH(int, tasks);
    QFETCH(int, pageSize);
    QFETCH(int, pages);
    QFETCH(int, rowsOnLastPage);
    QFETCH(QString, firstOnLastPage);

    QVERIFY(m_app->insertTasks(m_userId, tasks));
    m_app->tasks.setPageSize(pageSize);
    m_app->tasks.loadPage(INT_MAX);
    QCOMPARE(m_app->tasks.totalPages(), pages);
    QCOMPARE(m_app->tasks.currentPage(), pages);
    QCOMPARE(m_app->model.rowCount(), rowsOnLastPage);
    QCOMPARE(m_app->model.nameAt(0), firstOnLastPage);
}

void TestTaskService::pageClamping_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("expected");

    QTest::newRow("zero") << 2 << 0 << 1;
    QTest::newRow("negative") << 2 << -3 << 1;
    QTest::newRow("INT_MIN") << 2 << INT_MIN << 1;
    QTest::newRow("beyond the last") << 1 << 4 << 3;
    QTest::newRow("INT_MAX") << 1 << INT_MAX << 3;
    QTest::newRow("same page") << 2 << 2 << 2;
    QTest::newRow("next page") << 2 << 3 << 3;
}

void TestTaskService::pageClamping()
{
    QFETCH(int, start);
    QFETCH(int, requested);
    QFETCH(int, expected);

    QVERIFY(m_app->insertTasks(m_userId, 51));
    m_app->tasks.loadPage(start);
    QCOMPARE(m_app->tasks.currentPage(), start);

    const QStringList order = recordLoad([&] { m_app->tasks.loadPage(requested); });
    QStringList wanted { "countsChanged", "totalPagesChanged" };
    if (expected != start)
        wanted << QStringLiteral("currentPageChanged");
    wanted << QStringLiteral("modelAboutToBeReset") << QStringLiteral("modelReset");
    QCOMPARE(order, wanted);
    QCOMPARE(m_app->tasks.currentPage(), expected);
}

void TestTaskService::rowsNewestFirstAndPaged()
{
    QVERIFY(m_app->insertTasks(m_userId, 12));
    m_app->tasks.setPageSize(5);
    m_app->tasks.loadPage(2);
    QCOMPARE(m_app->model.rowCount(), 5);
    QCOMPARE(m_app->model.nameAt(0), QStringLiteral("task 7"));
    QCOMPARE(m_app->model.nameAt(4), QStringLiteral("task 3"));
    m_app->tasks.loadPage(3);
    QCOMPARE(m_app->model.rowCount(), 2);
    QCOMPARE(m_app->model.nameAt(1), QStringLiteral("task 1"));

    // Rows created in the same second: the newest first all the same.
    QVERIFY(m_app->query().exec("UPDATE tasks SET create_at = '2026-01-01 00:00:00'"));
    m_app->tasks.loadPage(1);
    QCOMPARE(m_app->model.nameAt(0), QStringLiteral("task 12"));
    QCOMPARE(m_app->model.nameAt(4), QStringLiteral("task 8"));
}

void TestTaskService::deletingLastRowOfLastPageClamps()
{
    QVERIFY(m_app->insertTasks(m_userId, 6));
    m_app->tasks.setPageSize(5);
    m_app->tasks.loadPage(2);
    QCOMPARE(m_app->model.rowCount(), 1);
    const int id = m_app->model.taskIdAt(0);
    QSignalSpy pageSpy(&m_app->tasks, &TaskService::currentPageChanged);
    QVERIFY(m_app->tasks.deleteTask(id));
    QCOMPARE(m_app->tasks.totalPages(), 1);
    QCOMPARE(m_app->tasks.currentPage(), 1);
    QCOMPARE(pageSpy.count(), 1);
    QCOMPARE(m_app->model.rowCount(), 5);
}

void TestTaskService::countersIgnoreFilters()
{
    QVERIFY(m_app->insertTasks(m_userId, 3, 1, QStringLiteral("done")));
    QVERIFY(m_app->insertTasks(m_userId, 4, 0, QStringLiteral("open")));
    const int other = signUp(QStringLiteral("bob"));
    QVERIFY(m_app->insertTasks(other, 9));
    QVERIFY(m_app->auth.login(QStringLiteral("ann"), kTestPassword));

    m_app->tasks.setFilterActive(1);
    QCOMPARE(m_app->model.rowCount(), 3);
    m_app->tasks.setFilterName(QStringLiteral("nothing matches this"));
    QCOMPARE(m_app->model.rowCount(), 0);
    QCOMPARE(m_app->tasks.totalPages(), 1);
    QCOMPARE(m_app->tasks.totalCount(), 7);
    QCOMPARE(m_app->tasks.activeCount(), 3);
    QCOMPARE(m_app->tasks.inactiveCount(), 4);
}

void TestTaskService::likeSemantics_data()
{
    QTest::addColumn<QString>("search");
    QTest::addColumn<int>("matches");

    QTest::newRow("substring") << "milk" << 1;
    QTest::newRow("ASCII case folded") << "BUY" << 2;
    QTest::newRow("percent is a wildcard") << "%" << 7;
    QTest::newRow("underscore is a wildcard") << "a_b" << 2;
    QTest::newRow("literal percent still matches") << "100%" << 1;
    QTest::newRow("non-ASCII only in the same case") << "ärger" << 1;
    QTest::newRow("non-ASCII capital") << "Ärger" << 1;
    QTest::newRow("quote is plain text") << "'; DROP TABLE tasks; --" << 0;
    QTest::newRow("no match") << "zzz" << 0;
}

void TestTaskService::likeSemantics()
{
    QFETCH(QString, search);
    QFETCH(int, matches);

    for (const char *name :
         { "Buy milk", "buy bread", "100% done", "a_b", "axb", "Ärger", "ärger" })
        QVERIFY(m_app->tasks.createTask(QString::fromUtf8(name), QDateTime()));
    m_app->tasks.setFilterName(search);
    QCOMPARE(m_app->model.rowCount(), matches);
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks"), 7);
}

void TestTaskService::filterNameTrimAndNoOp()
{
    QVERIFY(m_app->insertTasks(m_userId, 3, 0, QStringLiteral("milk")));
    m_app->tasks.loadPage(1);

    QStringList order =
            recordLoad([this] { m_app->tasks.setFilterName(QStringLiteral("  milk 2 ")); });
    QCOMPARE(order, QStringList { "filterNameChanged" } + kLoadSignals);
    QCOMPARE(m_app->tasks.filterName(), QStringLiteral("milk 2"));
    QCOMPARE(m_app->model.rowCount(), 1);

    order = recordLoad([this] { m_app->tasks.setFilterName(QStringLiteral("milk 2\t")); });
    QVERIFY(order.isEmpty());

    // Comparison is exact: another letter case is another filter.
    order = recordLoad([this] { m_app->tasks.setFilterName(QStringLiteral("MILK 2")); });
    QCOMPARE(order.first(), QStringLiteral("filterNameChanged"));

    order = recordLoad([this] { m_app->tasks.setFilterName(QStringLiteral("   ")); });
    QCOMPARE(order.first(), QStringLiteral("filterNameChanged"));
    QCOMPARE(m_app->tasks.filterName(), QString());
    QCOMPARE(m_app->model.rowCount(), 3);
}

void TestTaskService::filterActiveNormalisesAndNoOp()
{
    QVERIFY(m_app->insertTasks(m_userId, 2, 1));
    QVERIFY(m_app->insertTasks(m_userId, 3, 0));
    m_app->tasks.loadPage(1);

    QVERIFY(recordLoad([this] { m_app->tasks.setFilterActive(5); }).isEmpty());
    QCOMPARE(m_app->tasks.filterActive(), -1);

    QCOMPARE(recordLoad([this] { m_app->tasks.setFilterActive(0); }),
             QStringList { "filterActiveChanged" } + kLoadSignals);
    QCOMPARE(m_app->model.rowCount(), 3);
    QCOMPARE(recordLoad([this] { m_app->tasks.setFilterActive(1); }).size(), 5);
    QCOMPARE(m_app->model.rowCount(), 2);
    m_app->tasks.setFilterActive(INT_MIN);
    QCOMPARE(m_app->tasks.filterActive(), -1);
    QCOMPARE(m_app->model.rowCount(), 5);

    // A filter change always returns to page 1.
    m_app->tasks.setPageSize(1);
    m_app->tasks.loadPage(4);
    m_app->tasks.setFilterActive(0);
    QCOMPARE(m_app->tasks.currentPage(), 1);
}

void TestTaskService::pageSizeBoundsAndPersistence()
{
    QVERIFY(m_app->insertTasks(m_userId, 3));
    m_app->tasks.loadPage(1);
    QCOMPARE(m_app->tasks.pageSize(), 25);
    QVERIFY(!appSettings().contains("taskPageSize"));

    QSignalSpy spy(&m_app->tasks, &TaskService::pageSizeChanged);
    QSignalSpy resets(&m_app->model, &QAbstractItemModel::modelReset);
    m_app->tasks.setPageSize(0);
    QCOMPARE(m_app->tasks.pageSize(), 1);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(appSettings().value("taskPageSize").toInt(), 1);
    // Nothing is reloaded until the caller loads a page.
    QCOMPARE(resets.count(), 0);
    QCOMPARE(m_app->model.rowCount(), 3);

    m_app->tasks.setPageSize(-3);
    QCOMPARE(spy.count(), 1);

    appSettings().remove("taskPageSize");
    m_app->tasks.setPageSize(1);
    QVERIFY(!appSettings().contains("taskPageSize"));

    m_app->tasks.setPageSize(50);
    QCOMPARE(spy.count(), 2);
    TaskService second(&m_app->db, &m_app->auth, &m_app->model);
    QCOMPARE(second.pageSize(), 50);
}

void TestTaskService::storedPageSize_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("expected");

    QTest::newRow("thirty") << QVariant(30) << 30;
    QTest::newRow("zero") << QVariant(0) << 1;
    QTest::newRow("negative") << QVariant(-8) << 1;
    QTest::newRow("not a number") << QVariant("lots") << 1;
}

void TestTaskService::storedPageSize()
{
    QFETCH(QVariant, stored);
    QFETCH(int, expected);

    appSettings().setValue("taskPageSize", stored);
    TaskService service(&m_app->db, &m_app->auth, &m_app->model);
    QCOMPARE(service.pageSize(), expected);
}

void TestTaskService::createRefusesBlankName()
{
    m_app->tasks.loadPage(1);
    QSignalSpy resets(&m_app->model, &QAbstractItemModel::modelReset);
    QVERIFY(!m_app->tasks.createTask(QStringLiteral(" \t\n "), QDateTime::currentDateTimeUtc()));
    QVERIFY(!m_app->tasks.createTask(QString(), QDateTime::currentDateTimeUtc()));
    QCOMPARE(resets.count(), 0);
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks"), 0);

    QVERIFY(m_app->tasks.createTask(QStringLiteral("  padded  "), QDateTime::currentDateTimeUtc()));
    QCOMPARE(resets.count(), 1);
    QCOMPARE(m_app->model.nameAt(0), QStringLiteral("padded"));
    // Created Done unless told otherwise.
    QCOMPARE(scalar("SELECT active FROM tasks"), 1);
    QVERIFY(m_app->tasks.createTask(QStringLiteral("pending"), QDateTime(), false));
    QCOMPARE(scalar("SELECT active FROM tasks WHERE name = 'pending'"), 0);
}

void TestTaskService::createStoresUtcTextAndEpoch_data()
{
    QTest::addColumn<QDateTime>("due");

    const QDateTime utc(QDate(2030, 1, 15), QTime(3, 35, 12, 250), QTimeZone::utc());
    QTest::newRow("UTC") << utc;
    QTest::newRow("local") << utc.toLocalTime();
    QTest::newRow("fixed offset") << utc.toOffsetFromUtc(-7 * 3600);
}

// Whatever zone the caller uses, the text and the epoch seconds name the same instant, and
// the task reads back as that instant.
void TestTaskService::createStoresUtcTextAndEpoch()
{
    QFETCH(QDateTime, due);

    QVERIFY(m_app->tasks.createTask(QStringLiteral("t"), due, false));
    auto q = m_app->query();
    QVERIFY(q.exec("SELECT expire_at, expire_at_epoch, typeof(expire_at_epoch) FROM tasks"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("2030-01-15T03:35:12.250Z"));
    QCOMPARE(q.value(1).toLongLong(), due.toSecsSinceEpoch());
    QCOMPARE(q.value(2).toString(), QStringLiteral("integer"));

    QCOMPARE(m_app->model.expireAt(0), due);
    QCOMPARE(m_app->model.expireAt(0).timeSpec(), Qt::LocalTime);
    // Asia/Kolkata is UTC+05:30.
    QCOMPARE(m_app->model.data(m_app->model.index(0, 3)).toString(),
             QStringLiteral("Tue 15 January 2030 09:05"));
}

void TestTaskService::invalidDueTimeIsNull()
{
    QVERIFY(m_app->tasks.createTask(QStringLiteral("someday"), QDateTime(), false));
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks WHERE expire_at IS NULL AND expire_at_epoch IS "
                    "NULL"),
             1);
    QVERIFY(!m_app->model.expireAt(0).isValid());
    QCOMPARE(m_app->model.data(m_app->model.index(0, 3)).toString(), QString());
    QVERIFY(m_app->tasks.nextDueTask(INT_MAX).isEmpty());

    const int id = m_app->model.taskIdAt(0);
    QVERIFY(m_app->tasks.updateTask(id, QStringLiteral("x"), false,
                                    QDateTime::currentDateTimeUtc()));
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks WHERE expire_at_epoch IS NOT NULL"), 1);
    QVERIFY(m_app->tasks.updateTask(id, QStringLiteral("x"), false, QDateTime()));
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks WHERE expire_at IS NULL AND expire_at_epoch IS "
                    "NULL"),
             1);
}

void TestTaskService::updateAndDelete()
{
    QVERIFY(m_app->tasks.createTask(QStringLiteral("first"), QDateTime(), false));
    const int id = m_app->model.taskIdAt(0);
    const QDateTime due = QDateTime::currentDateTimeUtc().addDays(2);

    QSignalSpy resets(&m_app->model, &QAbstractItemModel::modelReset);
    QVERIFY(m_app->tasks.updateTask(id, QStringLiteral("  renamed "), true, due));
    QCOMPARE(resets.count(), 1);
    QCOMPARE(m_app->model.nameAt(0), QStringLiteral("renamed"));
    QVERIFY(m_app->model.activeAt(0));
    QCOMPARE(m_app->model.expireAt(0).toSecsSinceEpoch(), due.toSecsSinceEpoch());
    QCOMPARE(m_app->tasks.activeCount(), 1);

    // Unlike creation, an update stores an empty name.
    QVERIFY(m_app->tasks.updateTask(id, QStringLiteral("   "), true, due));
    QCOMPARE(m_app->model.nameAt(0), QString());

    QVERIFY(m_app->tasks.deleteTask(id));
    QCOMPARE(m_app->model.rowCount(), 0);
    QCOMPARE(m_app->tasks.totalCount(), 0);
    // Editing or deleting what is gone fails, and the list is reloaded to show what is there.
    QVERIFY(!m_app->tasks.updateTask(id, QStringLiteral("back"), true, due));
    QVERIFY(!m_app->tasks.deleteTask(id));
    QCOMPARE(resets.count(), 5);
}

// Notes, priority and tags are kept beside a task and go with it; the tag filter and the "due
// soonest" order page through the list, flips included; Done is set in one call.
void TestTaskService::detailsTagFilterAndDueOrder()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QList<std::pair<QString, QDateTime>> made { { "later", now.addDays(3) },
                                                      { "undated", QDateTime() },
                                                      { "soon", now.addDays(1) },
                                                      { "overdue", now.addDays(-1) } };
    QList<qint64> ids;
    for (const auto &[name, due] : made) {
        QVERIFY(m_app->tasks.createTask(name, due, false));
        ids << qint64(m_app->tasks.lastCreatedId());
    }
    const qint64 later = ids[0], undated = ids[1], soon = ids[2], overdue = ids[3];
    QVERIFY(m_app->tasks.saveTaskDetails(later, QStringLiteral("Call first"), 3,
                                         QStringLiteral(" home, Garden ,, HOME")));
    QVERIFY(m_app->tasks.saveTaskDetails(soon, QString(), 1, QStringLiteral("home")));
    QVERIFY(m_app->tasks.saveTaskDetails(overdue, QString(), 0, QStringLiteral("gone")));
    QVERIFY(!m_app->tasks.saveTaskDetails(999, QStringLiteral("no such task"), 2, QString()));
    const QVariantMap details = m_app->tasks.taskDetails(later);
    QCOMPARE(details.value("notes").toString(), QStringLiteral("Call first"));
    QCOMPARE(details.value("priority").toInt(), 3);
    QCOMPARE(details.value("tags").toString(), QStringLiteral("home, Garden"));
    // Details kept only in the task's text (synced before they were kept beside it) are shown,
    // and saved unchanged they stay where they are.
    QVERIFY(m_app->store.storeUid(m_userId, undated, QStringLiteral("u1"),
                                  QStringLiteral("BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:u1\r\n"
                                                 "SUMMARY:undated\r\nDESCRIPTION:From the server"
                                                 "\r\nEND:VTODO\r\nEND:VCALENDAR\r\n")));
    QCOMPARE(m_app->tasks.taskDetails(undated).value("notes").toString(),
             QStringLiteral("From the server"));
    QVERIFY(m_app->tasks.saveTaskDetails(undated, QStringLiteral("From the server"), 0, {}));
    QCOMPARE(m_app->scalar(QStringLiteral("SELECT COUNT(*) FROM task_details WHERE task_id = ?"),
                           undated)
                     .toInt(),
             0);
    QCOMPARE(m_app->tasks.tagNames(), (QStringList { "Garden", "gone", "home" }));
    const int laterRow = m_app->model.rowForId(later);
    QCOMPARE(m_app->model.data(m_app->model.index(laterRow, 1), TaskTableModel::TagsRole),
             QVariant(QStringList { "home", "Garden" }));
    QCOMPARE(m_app->model.data(m_app->model.index(laterRow, 1), TaskTableModel::NotesRole),
             QVariant(QStringLiteral("Call first")));
    QVERIFY(m_app->model.overdueAt(m_app->model.rowForId(overdue)));
    QVERIFY(!m_app->model.overdueAt(laterRow));

    m_app->tasks.setFilterTag(QStringLiteral("home"));
    QCOMPARE(m_app->model.rowCount(), 2);
    QCOMPARE(m_app->model.taskIdAt(0), soon);
    QCOMPARE(m_app->model.taskIdAt(1), later);
    QCOMPARE(m_app->tasks.totalCount(), 4);
    m_app->tasks.clearFilters();

    m_app->tasks.setPageSize(1);
    m_app->tasks.setSortOrder(1);
    const QList<qint64> soonest { overdue, soon, later, undated };
    for (int page = 1; page <= 4; ++page) {
        m_app->tasks.loadPage(page);
        QCOMPARE(m_app->model.taskIdAt(0), soonest[page - 1]);
    }
    m_app->tasks.loadPage(3);
    QCOMPARE(m_app->model.taskIdAt(0), later);
    QCOMPARE(m_app->tasks.pageOfTask(undated), 4);
    // By priority: high, low, then the rest newest first; the far pages read from the end.
    m_app->tasks.setSortOrder(2);
    const QList<qint64> byPriority { later, soon, overdue, undated };
    for (int page : { 1, 2, 3, 4, 2 }) {
        m_app->tasks.loadPage(page);
        QCOMPARE(m_app->model.taskIdAt(0), byPriority[page - 1]);
        QCOMPARE(m_app->tasks.pageOfTask(byPriority[page - 1]), page);
    }

    QVERIFY(m_app->tasks.setTaskDone(overdue, true));
    auto q = m_app->query();
    QVERIFY(q.exec(QStringLiteral("SELECT name, active, expire_at_epoch FROM tasks WHERE id = %1")
                           .arg(overdue)));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("overdue"));
    QCOMPARE(q.value(1).toInt(), 1);
    QCOMPARE(q.value(2).toLongLong(), now.addDays(-1).toSecsSinceEpoch());

    QVERIFY(m_app->tasks.deleteTask(later));
    QVERIFY(m_app->tasks.deleteAllInactive());
    for (const QString &table : { QStringLiteral("task_details"), QStringLiteral("task_tags") }) {
        QCOMPARE(m_app->scalar(QStringLiteral("SELECT group_concat(task_id) FROM ") + table),
                 QVariant(QString::number(soon)));
    }
}

void TestTaskService::repeatingTaskDone_data()
{
    QTest::addColumn<QString>("rrule");
    QTest::addColumn<bool>("fromCompletion");
    QTest::addColumn<int>("dueInDays"); // the due day, from today, at 09:00 local time
    QTest::addColumn<QString>("nextRule"); // empty: no occurrence left, the task is done

    QTest::newRow("on time") << "FREQ=DAILY" << false << 1 << "FREQ=DAILY";
    QTest::newRow("three days late, five left") << "FREQ=DAILY;COUNT=5" << false << -3 << "";
    QTest::newRow("last occurrence") << "FREQ=DAILY;COUNT=1" << false << 0 << "";
    QTest::newRow("from completion")
            << "FREQ=WEEKLY;INTERVAL=2" << true << -10 << "FREQ=WEEKLY;INTERVAL=2";
}

// Done moves a repeating task to its next occurrence and keeps the occurrence done as a Done
// task of its own, without a rule.
void TestTaskService::repeatingTaskDone()
{
    QFETCH(QString, rrule);
    QFETCH(bool, fromCompletion);
    QFETCH(int, dueInDays);
    QFETCH(QString, nextRule);
    const QDateTime due(QDate::currentDate().addDays(dueInDays), QTime(9, 0));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("water"), due, false));
    const qint64 id = m_app->tasks.lastCreatedId();
    QVERIFY(m_app->tasks.setRepeat(id, rrule, fromCompletion));
    QVERIFY(m_app->tasks.saveTaskDetails(id, QStringLiteral("the ferns too"), TaskDetails::High,
                                         QStringLiteral("garden, home")));
    QVERIFY(!m_app->model.data(m_app->model.index(0, 1), TaskTableModel::RepeatTextRole)
                     .toString()
                     .isEmpty());

    const QDateTime before = QDateTime::currentDateTimeUtc();
    QVERIFY(m_app->tasks.updateTask(id, QStringLiteral("water"), true, due));
    const QDateTime after = QDateTime::currentDateTimeUtc();
    const QVariantMap repeat = m_app->tasks.repeatOf(id);
    auto q = m_app->query();
    QVERIFY(q.exec("SELECT id, active, expire_at_epoch FROM tasks ORDER BY id"));
    QList<QList<qint64>> rows;
    while (q.next())
        rows.append({ q.value(0).toLongLong(), q.value(1).toLongLong(), q.value(2).toLongLong() });
    const bool late = dueInDays < 0 && !fromCompletion;
    if (late) {
        // Five occurrences from three days ago: the next after now, COUNT lowered by those passed.
        QDateTime next = due;
        while (next <= before)
            next = next.addDays(1);
        nextRule = QStringLiteral("FREQ=DAILY;COUNT=%1").arg(5 - due.daysTo(next));
    }
    if (nextRule.isEmpty()) {
        QCOMPARE(rows, (QList<QList<qint64>> { { id, 1, due.toSecsSinceEpoch() } }));
        QCOMPARE(m_app->tasks.activeCount(), 1);
        return;
    }
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).mid(0, 2), (QList<qint64> { id, 0 }));
    QCOMPARE(rows.at(1).mid(1), (QList<qint64> { 1, due.toSecsSinceEpoch() }));
    const qint64 nextDue = rows.at(0).at(2);
    if (fromCompletion) {
        QVERIFY(nextDue >= before.addDays(14).toSecsSinceEpoch());
        QVERIFY(nextDue <= after.addDays(14).toSecsSinceEpoch());
    } else {
        const QDateTime next = QDateTime::fromSecsSinceEpoch(nextDue).toLocalTime();
        QCOMPARE(next.time(), QTime(9, 0));
        QVERIFY(next > qMax(due, after) && next.addDays(-1) <= qMax(due, before));
    }
    QCOMPARE(repeat.value("rrule").toString(), nextRule);
    QCOMPARE(m_app->tasks.repeatOf(rows.at(1).at(0)).value("rrule").toString(), QString());
    // The occurrence done keeps what the task said of it.
    QCOMPARE(m_app->tasks.taskDetails(rows.at(1).at(0)), m_app->tasks.taskDetails(id));
    QCOMPARE(m_app->tasks.taskDetails(id).value("tags").toString(), QStringLiteral("garden, home"));
    QCOMPARE(m_app->tasks.activeCount(), 1);
    QCOMPARE(m_app->tasks.inactiveCount(), 1);
}

void TestTaskService::otherAccountsTasksUntouched()
{
    const int annId = m_userId;
    const int bobId = signUp(QStringLiteral("bob"));
    QVERIFY(m_app->insertTasks(bobId, 1, 1, QStringLiteral("bob's")));
    const int bobTask = scalar("SELECT id FROM tasks WHERE user_id = " + QString::number(bobId));
    QVERIFY(m_app->auth.login(QStringLiteral("ann"), kTestPassword));
    QCOMPARE(m_app->auth.userId(), annId);

    QVERIFY(!m_app->tasks.updateTask(bobTask, QStringLiteral("hijacked"), false, QDateTime()));
    QVERIFY(!m_app->tasks.deleteTask(bobTask));
    QVERIFY(m_app->tasks.deleteAllInactive());
    auto q = m_app->query();
    QVERIFY(q.exec("SELECT name, active FROM tasks"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("bob's 1"));
    QCOMPARE(q.value(1).toInt(), 1);
    QCOMPARE(m_app->model.rowCount(), 0);
}

void TestTaskService::idsBelowOneRefused()
{
    m_app->tasks.loadPage(1);
    QSignalSpy resets(&m_app->model, &QAbstractItemModel::modelReset);
    for (int id : { 0, -1, INT_MIN }) {
        QVERIFY(!m_app->tasks.updateTask(id, QStringLiteral("x"), false, QDateTime()));
        QVERIFY(!m_app->tasks.deleteTask(id));
    }
    QCOMPARE(resets.count(), 0);
}

void TestTaskService::largeIds_data()
{
    QTest::addColumn<qint64>("id");
    QTest::addColumn<bool>("usable");

    QTest::newRow("2^31 + 1") << (qint64(1) << 31) + 1 << true;
    QTest::newRow("2^32 + 1") << (qint64(1) << 32) + 1 << true;
    QTest::newRow("2^53, past exact numbers in QML") << (qint64(1) << 53) << false;
}

// Bob's account and his task carry the id; Ann's account and task have id 1, which a 32-bit
// id would hit.
void TestTaskService::largeIds()
{
    QFETCH(qint64, id);
    QFETCH(bool, usable);

    QVERIFY(m_app->tasks.createTask(QStringLiteral("ann's"), QDateTime(), false));
    QVERIFY(m_app->auth.registerUser(QStringLiteral("bob"), kTestPassword, QStringLiteral("B")));
    QVERIFY(m_app->query().exec(
            QStringLiteral("UPDATE users SET id = %1 WHERE username = 'bob'").arg(id)));
    QVERIFY(m_app->query().exec(
            QStringLiteral("INSERT INTO tasks (id, user_id, name) VALUES (%1, %1, 'b')").arg(id)));
    QVERIFY(m_app->auth.login(QStringLiteral("bob"), kTestPassword));
    QCOMPARE(m_app->auth.userId(), id);

    m_app->tasks.loadPage(1);
    QCOMPARE(m_app->model.rowCount(), 1);
    QCOMPARE(m_app->model.data(m_app->model.index(0, 0)).toLongLong(), id);
    QCOMPARE(m_app->model.rowForId(id), 0);
    QCOMPARE(m_app->tasks.updateTask(m_app->model.taskIdAt(0), "edited", true, QDateTime()),
             usable);
    QCOMPARE(m_app->tasks.deleteTask(id), usable);
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks WHERE id > 1"), usable ? 0 : 1);
    QCOMPARE(m_app->scalar("SELECT name || active FROM tasks WHERE id = 1").toString(),
             QStringLiteral("ann's0"));
}

void TestTaskService::deleteAllInactiveAcrossPagesAndFilters()
{
    QVERIFY(m_app->insertTasks(m_userId, 30, 1, QStringLiteral("done")));
    QVERIFY(m_app->insertTasks(m_userId, 12, 0, QStringLiteral("open")));
    m_app->tasks.setPageSize(10);
    m_app->tasks.setFilterActive(0);
    m_app->tasks.setFilterName(QStringLiteral("open 1"));
    m_app->tasks.loadPage(2);

    QVERIFY(m_app->tasks.deleteAllInactive());
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks WHERE active = 1"), 0);
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks WHERE active = 0"), 12);
    QCOMPARE(m_app->tasks.activeCount(), 0);
    QCOMPARE(m_app->tasks.inactiveCount(), 12);
    // "open 1", "open 10", "open 11", "open 12" fit on one page.
    QCOMPARE(m_app->tasks.currentPage(), 1);
}

void TestTaskService::nextDueWindow_data()
{
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<bool>("offered");

    QTest::newRow("due now") << qint64(0) << 10 << true;
    QTest::newRow("at the far end") << qint64(600) << 10 << true;
    QTest::newRow("one second past the end") << qint64(601) << 10 << false;
    QTest::newRow("one second ago") << qint64(-1) << 10 << false;
    QTest::newRow("zero minutes, due now") << qint64(0) << 0 << true;
    QTest::newRow("negative minutes") << qint64(0) << -5 << false;
    QTest::newRow("in a year, INT_MAX minutes") << qint64(365 * 86400) << INT_MAX << true;
    QTest::newRow("INT_MIN minutes") << qint64(0) << INT_MIN << false;
}

void TestTaskService::nextDueWindow()
{
    QFETCH(qint64, offset);
    QFETCH(int, minutes);
    QFETCH(bool, offered);

    // Retry when the clock ticks between writing and asking, so that "now" is the same second.
    for (int attempt = 0; attempt < 5; ++attempt) {
        QVERIFY(m_app->query().exec("DELETE FROM tasks"));
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QDateTime due = QDateTime::fromSecsSinceEpoch(now + offset, QTimeZone::utc());
        QVERIFY(m_app->tasks.createTask(QStringLiteral("soon"), due, false));
        const QVariantMap next = m_app->tasks.nextDueTask(minutes);
        if (QDateTime::currentSecsSinceEpoch() != now)
            continue;
        QCOMPARE(!next.isEmpty(), offered);
        if (offered) {
            QCOMPARE(next.value("id").toInt(), m_app->model.taskIdAt(0));
            QCOMPARE(next.value("name").toString(), QStringLiteral("soon"));
            QCOMPARE(next.value("expire_at_epoch").toLongLong(), now + offset);
            QCOMPARE(next.value("expire_at_text").toString(),
                     due.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
            QCOMPARE(next.size(), 4);
        }
        return;
    }
    QFAIL("the clock kept ticking");
}

void TestTaskService::nextDuePicksEarliestAndSkipsDone()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVERIFY(m_app->tasks.createTask(QStringLiteral("later"), now.addSecs(300), false));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("done"), now.addSecs(60), true));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("earlier"), now.addSecs(120), false));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("past"), now.addSecs(-120), false));
    m_app->tasks.setFilterName(QStringLiteral("later"));

    QCOMPARE(m_app->tasks.nextDueTask(10).value("name").toString(), QStringLiteral("earlier"));
    const int other = signUp(QStringLiteral("bob"));
    QVERIFY(other > 0);
    QVERIFY(m_app->tasks.nextDueTask(10).isEmpty());
}

void TestTaskService::dueTasksListsEveryTaskInOrder()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVERIFY(m_app->tasks.createTask(QStringLiteral("b"), now.addSecs(240), false));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("a1"), now.addSecs(120), false));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("a2"), now.addSecs(120), false));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("done"), now.addSecs(60), true));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("outside"), now.addSecs(3600), false));

    const QList<DueTask> due = m_app->tasks.dueTasks(10);
    QStringList names;
    for (const DueTask &task : due)
        names << task.name;
    QCOMPARE(names, (QStringList { "a1", "a2", "b" }));
    QCOMPARE(due.first().toMap().keys(), m_app->tasks.nextDueTask(10).keys());
    QVERIFY(m_app->tasks.dueTasks(-1).isEmpty());
}

void TestTaskService::createdAtShownInLocalTime()
{
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QVERIFY(m_app->tasks.createTask(QStringLiteral("now"), QDateTime()));
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    const QDateTime created = m_app->model.createAt(0);
    QCOMPARE(created.timeSpec(), Qt::LocalTime);
    QVERIFY2(created >= before && created <= after, qPrintable(created.toString(Qt::ISODate)));
    // The wall-clock text is local (UTC+05:30 here), not the UTC text the database holds.
    QCOMPARE(m_app->model.data(m_app->model.index(0, 4)).toString(),
             created.toString(QStringLiteral("ddd dd MMMM HH:mm")));
    QVERIFY(created.time().minute() != created.toUTC().time().minute()
            || created.time().hour() != created.toUTC().time().hour());
}

// Texts in the stored formats, written by the sqlite3 command-line tool, read back right.
void TestTaskService::rowsWrittenByAnotherProgram()
{
    const QString sql = QStringLiteral("INSERT INTO tasks (user_id, name, active, expire_at, "
                                       "expire_at_epoch, create_at) VALUES "
                                       "(%1, 'cli', 0, '2031-06-30T18:45:00.000Z', 1940611500, "
                                       "'2031-06-01 20:10:00');")
                                .arg(m_userId);
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), { m_app->db.database().databaseName(), sql });
    if (!sqlite.waitForFinished(10000) || sqlite.exitCode() != 0)
        QSKIP("the sqlite3 command-line tool is not available");

    m_app->tasks.loadPage(1);
    QCOMPARE(m_app->model.rowCount(), 1);
    QCOMPARE(m_app->model.expireAt(0),
             QDateTime(QDate(2031, 6, 30), QTime(18, 45), QTimeZone::utc()).toLocalTime());
    QCOMPARE(m_app->model.data(m_app->model.index(0, 3)).toString(),
             QStringLiteral("Tue 01 July 2031 00:15"));
    QCOMPARE(m_app->model.data(m_app->model.index(0, 4)).toString(),
             QStringLiteral("Mon 02 June 2031 01:40"));
}

void TestTaskService::signedOutRefusesEverything()
{
    QVERIFY(m_app->tasks.createTask(QStringLiteral("mine"),
                                    QDateTime::currentDateTimeUtc().addSecs(60), false));
    const int id = m_app->model.taskIdAt(0);
    m_app->auth.logout();

    const QStringList order = recordLoad([&] {
        m_app->tasks.loadPage(1);
        QVERIFY(!m_app->tasks.createTask(QStringLiteral("x"), QDateTime()));
        QVERIFY(!m_app->tasks.updateTask(id, QStringLiteral("x"), true, QDateTime()));
        QVERIFY(!m_app->tasks.deleteTask(id));
        QVERIFY(!m_app->tasks.deleteAllInactive());
        QVERIFY(m_app->tasks.nextDueTask(10).isEmpty());
        QVERIFY(m_app->tasks.dueTasks(10).isEmpty());
    });
    QVERIFY(order.isEmpty());
    // The last page stays in the model until the next sign-in loads another.
    QCOMPARE(m_app->model.rowCount(), 1);
    QCOMPARE(m_app->tasks.totalCount(), 1);
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks WHERE name = 'mine' AND active = 0"), 1);

    TaskService noAuth(&m_app->db, nullptr, &m_app->model);
    QVERIFY(!noAuth.createTask(QStringLiteral("x"), QDateTime()));
    DbManager closed;
    QVERIFY(m_app->auth.login(QStringLiteral("ann"), kTestPassword));
    TaskService closedDb(&closed, &m_app->auth, &m_app->model);
    QVERIFY(!closedDb.createTask(QStringLiteral("x"), QDateTime()));
    QVERIFY(closedDb.nextDueTask(10).isEmpty());
}

// Every row of the tables a task has rows in, as text, for comparing before and after.
static QStringList dumpTables(TestDatabase &db, const QStringList &tables)
{
    QStringList rows;
    for (const QString &table : tables) {
        QSqlQuery q = db.query();
        if (!q.exec(QStringLiteral("SELECT * FROM %1 ORDER BY 1, 2").arg(table)))
            return { q.lastError().text() };
        while (q.next()) {
            QStringList values { table };
            for (int i = 0; i < q.record().count(); ++i)
                values << (q.isNull(i) ? QStringLiteral("NULL") : q.value(i).toString());
            rows << values.join(QLatin1Char('|'));
        }
    }
    return rows;
}

void TestTaskService::undoRestoresTheRows_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("pageChange"); // the list moved to another page before the undo

    QTest::newRow("delete") << "delete" << false;
    QTest::newRow("delete, then another page") << "delete" << true;
    QTest::newRow("delete a repeating, snoozed task") << "deleteRepeating" << false;
    QTest::newRow("delete done") << "deleteDone" << false;
    QTest::newRow("delete done, then another page") << "deleteDone" << true;
    QTest::newRow("edit with a new rule") << "edit" << false;
    QTest::newRow("done") << "done" << false;
    QTest::newRow("done on a repeating task") << "doneRepeating" << true;
    QTest::newRow("import of new tasks only") << "importNew" << false;
    QTest::newRow("import updating tasks, then another page") << "importUpdates" << true;
}

// Imports a new task, or updates rent and water (its rule dropped) too, wired to the undo as
// the program wires it.
bool TestTaskService::importFile(bool newOnly)
{
    TaskTransfer transfer(&m_app->db, &m_app->auth, &m_app->store);
    connect(&transfer, &TaskTransfer::importSaved, &m_app->tasks.undoJournal(),
            &UndoJournal::recordImport);
    QByteArray tasks = "BEGIN:VTODO\r\nUID:new\r\nSUMMARY:new\r\nRRULE:FREQ=DAILY\r\n"
                       "CATEGORIES:Home\r\nEND:VTODO\r\n";
    if (!newOnly)
        tasks += "BEGIN:VTODO\r\nUID:uid-rent\r\nSUMMARY:rent (file)\r\nPRIORITY:1\r\n"
                 "LAST-MODIFIED:20990101T000000Z\r\nCATEGORIES:Bills\r\nEND:VTODO\r\n"
                 "BEGIN:VTODO\r\nUID:uid-water\r\nSUMMARY:water (file)\r\n"
                 "LAST-MODIFIED:20990101T000000Z\r\nEND:VTODO\r\n";
    const auto counts = transfer.importCalendar("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//T//T"
                                                "//EN\r\n"
                                                + tasks + "END:VCALENDAR\r\n");
    return counts.imported == 1 && counts.updated == (newOnly ? 0 : 2)
           && m_app->tasks.undoJournal().text()
                      == (newOnly ? "Imported 1 task." : "Imported 1 task, updated 2.");
}

// An undone deletion brings back the very rows (ids, creation times, UIDs, rules, snoozes); an
// undone change gives the task its fields and rule again. The other account is not touched, and
// the counts follow.
void TestTaskService::undoRestoresTheRows()
{
    QFETCH(QString, command);
    QFETCH(bool, pageChange);
    const qint64 bobId = signUp(QStringLiteral("bob"));
    QVERIFY(m_app->insertTasks(bobId, 2, 1, QStringLiteral("bob's")));
    QVERIFY(m_app->auth.login(QStringLiteral("ann"), kTestPassword));
    QVERIFY(m_app->insertTasks(m_userId, 5, 0, QStringLiteral("filler")));
    const QDateTime due(QDate::currentDate().addDays(1), QTime(9, 0));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("milk"), QDateTime(), true));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("rent"), due, false));
    const qint64 rent = m_app->tasks.lastCreatedId();
    QVERIFY(m_app->store.storeUid(m_userId, rent, QStringLiteral("uid-rent"), QString()));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("water"), due, false));
    const qint64 water = m_app->tasks.lastCreatedId();
    QVERIFY(m_app->store.storeUid(m_userId, water, QStringLiteral("uid-water"), QString()));
    QVERIFY(m_app->tasks.setRepeat(water, QStringLiteral("FREQ=DAILY;COUNT=4"), false));
    QVERIFY(m_app->query().exec(QStringLiteral("INSERT INTO task_snoozes VALUES (%1, %2, %3)")
                                        .arg(water)
                                        .arg(due.toSecsSinceEpoch())
                                        .arg(due.toSecsSinceEpoch() + 600)));
    m_app->tasks.setPageSize(3);
    m_app->tasks.loadPage(1);
    const TaskCounts counts { m_app->tasks.totalCount(), m_app->tasks.activeCount(),
                              m_app->tasks.inactiveCount() };
    // When each task was last changed here goes back too, for a later import to compare.
    const QStringList kept { "tasks",     "task_uids",    "task_repeat",      "task_snoozes",
                             "task_tags", "task_details", "task_changed_here" };
    const QStringList before = dumpTables(*m_app, kept);

    if (command == "delete")
        QVERIFY(m_app->tasks.deleteTask(rent));
    else if (command == "deleteRepeating")
        QVERIFY(m_app->tasks.deleteTask(water));
    else if (command == "deleteDone")
        QVERIFY(m_app->tasks.deleteAllInactive());
    else if (command.startsWith(QLatin1String("import")))
        QVERIFY(importFile(command == "importNew"));
    else if (command == "edit")
        QVERIFY(m_app->tasks.setRepeat(rent, QStringLiteral("FREQ=WEEKLY"), false)
                && m_app->tasks.updateTask(rent, QStringLiteral("rent!"), false, due.addDays(1)));
    else
        QVERIFY(m_app->tasks.updateTask(command == "done" ? rent : water,
                                        command == "done" ? "rent" : "water", true, due));
    QVERIFY(dumpTables(*m_app, kept) != before);
    QVERIFY(m_app->tasks.undoJournal().showing());
    if (pageChange)
        m_app->tasks.loadPage(2);
    const int page = m_app->tasks.currentPage();
    const QString lastChange = QStringLiteral("SELECT max(seq) FROM task_changes");
    const int changes = m_app->scalar(lastChange).toInt();

    QVERIFY(m_app->tasks.undo());
    QCOMPARE(dumpTables(*m_app, kept), before);
    // The sync reads the undo as a change of its own.
    QVERIFY(m_app->scalar(lastChange).toInt() > changes);
    QCOMPARE(m_app->tasks.totalCount(), counts.total);
    QCOMPARE(m_app->tasks.activeCount(), counts.active);
    QCOMPARE(m_app->tasks.inactiveCount(), counts.inactive);
    QCOMPARE(m_app->tasks.currentPage(), page);
    QCOMPARE(m_app->scalar("SELECT count(*) FROM tasks WHERE user_id = " + QString::number(bobId))
                     .toInt(),
             2);
    QVERIFY(!m_app->store.deletionHeld(rent) && !m_app->store.deletionHeld(water));
    // Nothing more shows: a second undo writes nothing.
    QVERIFY(!m_app->tasks.undo());
    QCOMPARE(dumpTables(*m_app, kept), before);
}

// Ctrl+Z goes back one command at a time while the bar shows; a command whose window passed is
// left, and its deletion goes to the sync. At most the last twenty are kept.
void TestTaskService::undoStackAndWindow()
{
    UndoJournal &journal = m_app->tasks.undoJournal();
    QSignalSpy released(&m_app->store, &TaskStore::deletionsReleased);
    QVERIFY(m_app->insertTasks(m_userId, UndoJournal::kDepth + 2));
    m_app->tasks.loadPage(1);
    QList<qint64> ids;
    for (int row = 0; row < UndoJournal::kDepth + 2; ++row)
        ids << m_app->model.taskIdAt(row);
    for (const qint64 id : ids)
        QVERIFY(m_app->tasks.deleteTask(id));
    QCOMPARE(journal.depth(), UndoJournal::kDepth);
    QVERIFY(m_app->store.deletionHeld(ids.last()));
    QVERIFY(!m_app->store.deletionHeld(ids.first()));
    QCOMPARE(journal.text(), QStringLiteral("Deleted 'task 1'."));
    QVERIFY(m_app->tasks.undo());
    QCOMPARE(journal.text(), QStringLiteral("Deleted 'task 2'."));
    QVERIFY(m_app->tasks.undo());
    QCOMPARE(m_app->tasks.totalCount(), 2);

    journal.setWindowMs(50);
    QVERIFY(m_app->tasks.deleteTask(ids.last()));
    QTRY_VERIFY(!m_app->store.deletionHeld(ids.last()));
    QTRY_VERIFY(!journal.showing());
    QVERIFY(!released.isEmpty());
    QVERIFY(!m_app->tasks.undo());
    QCOMPARE(m_app->tasks.totalCount(), 1);

    // Signing out forgets the commands: another account cannot undo them.
    QVERIFY(m_app->tasks.deleteTask(ids.at(ids.size() - 2)));
    m_app->tasks.forgetNames();
    QCOMPARE(journal.depth(), 0);
    QVERIFY(!m_app->tasks.undo());
}

// Every row of an account's own, in each table that holds some, as text.
static QStringList accountRows(TestDatabase &db, qint64 userId)
{
    const QString id = QString::number(userId);
    const QString tasks = QStringLiteral("(SELECT id FROM tasks WHERE user_id = %1)").arg(id);
    QStringList rows;
    for (const QString &where :
         { "users WHERE id = " + id, "tasks WHERE user_id = " + id,
           "task_uids WHERE user_id = " + id, "task_repeat WHERE user_id = " + id,
           "sync_items WHERE user_id = " + id, "sync_accounts WHERE user_id = " + id,
           "task_snoozes WHERE task_id IN " + tasks,
           "task_changed_here WHERE task_id IN " + tasks }) {
        QSqlQuery q = db.query();
        if (!q.exec("SELECT * FROM " + where))
            return { q.lastError().text() };
        while (q.next()) {
            QStringList values { where };
            for (int i = 0; i < q.record().count(); ++i)
                values << q.value(i).toString();
            rows << values.join(QLatin1Char('|'));
        }
    }
    return rows;
}

// Deleting an account removes every row that is its own, in every table, with its settings,
// and nothing of another account; the file stays sound.
void TestTaskService::deleteAccountRemovesEveryRow()
{
    m_app.reset();
    releaseDefaultConnection();
    ProgramServices program(testEnvironment.newDatabasePath());
    const qint64 bob = ::signUp(program.auth, QStringLiteral("bob"));
    QVERIFY(program.tasks.createTask(QStringLiteral("bob's"), QDateTime(), false));
    const qint64 ann = ::signUp(program.auth, QStringLiteral("ann"));
    const QDateTime due = QDateTime::currentDateTime().addDays(1);
    QVERIFY(program.tasks.createTask(QStringLiteral("rent"), due, false));
    const qint64 rent = program.tasks.lastCreatedId();
    QVERIFY(program.services.store().storeUid(ann, rent, QStringLiteral("u-1"), QString()));
    QVERIFY(program.tasks.setRepeat(rent, QStringLiteral("FREQ=DAILY"), false));
    QVERIFY(program.query().exec(
            QStringLiteral("INSERT INTO task_snoozes VALUES (%1, 1, 2)").arg(rent)));
    SyncAccount account;
    account.userId = ann;
    account.serverUrl = QStringLiteral("https://dav.example/");
    account.userName = QStringLiteral("ann");
    account.collectionUrl = QStringLiteral("https://dav.example/ann/tasks/");
    QVERIFY(SyncStore(program.db.database()).saveAccount(account));
    QVERIFY(program.query().exec(QStringLiteral("INSERT INTO sync_items (task_id, user_id, uid, "
                                                "href) VALUES (%1, %2, 'u-1', '/a.ics')")
                                         .arg(rent)
                                         .arg(ann)));
    const QString checkKey = QStringLiteral("lastReminderCheck/%1").arg(ann);
    appSettings().setValue(checkKey, 1);
    const QStringList annRows = accountRows(program, ann);
    const QStringList bobRows = accountRows(program, bob);
    QCOMPARE(annRows.size(), 8);

    QVERIFY(!program.services.accountRemoval().deleteAccount(QStringLiteral("wrong")).isEmpty());
    QCOMPARE(accountRows(program, ann), annRows);
    QVERIFY(program.auth.isLoggedIn());

    QCOMPARE(program.services.accountRemoval().deleteAccount(kTestPassword), QString());
    QVERIFY(!program.auth.isLoggedIn());
    QCOMPARE(accountRows(program, ann), QStringList());
    QCOMPARE(program.scalar("SELECT count(*) FROM task_snoozes").toInt(), 0);
    QCOMPARE(program.scalar("SELECT count(*) FROM tasks_trigram WHERE user_id = ?", ann).toInt(),
             0);
    QCOMPARE(accountRows(program, bob), bobRows);
    appSettings().sync();
    QVERIFY(!appSettings().contains(checkKey));
    QCOMPARE(program.scalar("PRAGMA integrity_check").toString(), QStringLiteral("ok"));
    QVERIFY(!program.auth.login(QStringLiteral("ann"), kTestPassword));
    QCOMPARE(::signUp(program.auth, QStringLiteral("bob")), bob);
}

QTEST_GUILESS_MAIN(TestTaskService)
#include "tst_taskservice.moc"
