#include "authservice.h"
#include "dbmanager.h"
#include "taskservice.h"
#include "tasktablemodel.h"
#include "testenv.h"

#include <QAbstractItemModelTester>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QTimeZone>

#include <climits>
#include <memory>

namespace {

const QStringList kLoadSignals { "countsChanged", "totalPagesChanged", "modelAboutToBeReset",
                                 "modelReset" };

QSettings appSettings()
{
    return QSettings(QStringLiteral("Brellhaven"), QStringLiteral("TarvikQtQml"));
}

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
    void otherAccountsTasksUntouched();
    void idsBelowOneRefused();
    void deleteAllInactiveAcrossPagesAndFilters();
    void nextDueWindow_data();
    void nextDueWindow();
    void nextDuePicksEarliestAndSkipsDone();
    void dueTasksListsEveryTaskInOrder();
    void createdAtShownInLocalTime();
    void rowsWrittenByAnotherProgram();
    void signedOutRefusesEverything();
    void extremeNumbers();

private:
    QSqlQuery query() const { return QSqlQuery(m_db->database()); }
    int signUp(const QString &user);
    // Inserts tasks directly; create_at is spaced one second apart so the order is fixed.
    void insertTasks(int userId, int count, int active = 0, const QString &prefix = "task");
    QStringList recordLoad(const std::function<void()> &action);
    int scalar(const QString &sql);

    std::unique_ptr<DbManager> m_db;
    std::unique_ptr<TaskTableModel> m_model;
    std::unique_ptr<AuthService> m_auth;
    std::unique_ptr<TaskService> m_service;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
    int m_userId = -1;
    int m_inserted = 0;
};

void TestTaskService::init()
{
    appSettings().clear();
    m_db = std::make_unique<DbManager>();
    QVERIFY(m_db->open(testEnvironment.newDatabasePath()));
    m_db->initSchema();
    m_model = std::make_unique<TaskTableModel>();
    m_tester = std::make_unique<QAbstractItemModelTester>(
            m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_auth = std::make_unique<AuthService>(m_db.get());
    m_service = std::make_unique<TaskService>(m_db.get(), m_auth.get(), m_model.get());
    m_userId = signUp(QStringLiteral("ann"));
    m_inserted = 0;
}

void TestTaskService::cleanup()
{
    m_service.reset();
    m_auth.reset();
    m_tester.reset();
    m_model.reset();
    m_db.reset();
    releaseDefaultConnection();
}

int TestTaskService::signUp(const QString &user)
{
    const QString password = QStringLiteral("password");
    if (!m_auth->registerUser(user, password, user.toUpper()) || !m_auth->login(user, password))
        return -1;
    return m_auth->userId();
}

void TestTaskService::insertTasks(int userId, int count, int active, const QString &prefix)
{
    auto q = query();
    q.prepare("INSERT INTO tasks (user_id, name, active, create_at) VALUES (?, ?, ?, "
              "datetime('2026-01-01 00:00:00', ? || ' seconds'))");
    for (int i = 0; i < count; ++i) {
        q.addBindValue(userId);
        q.addBindValue(QStringLiteral("%1 %2").arg(prefix).arg(i + 1));
        q.addBindValue(active);
        q.addBindValue(m_inserted++);
        QVERIFY(q.exec());
    }
}

QStringList TestTaskService::recordLoad(const std::function<void()> &action)
{
    QStringList order;
    QObject context;
    TaskService *s = m_service.get();
    for (auto [signal, name] :
         { std::pair { &TaskService::countsChanged, "countsChanged" },
           std::pair { &TaskService::totalPagesChanged, "totalPagesChanged" },
           std::pair { &TaskService::currentPageChanged, "currentPageChanged" },
           std::pair { &TaskService::pageSizeChanged, "pageSizeChanged" },
           std::pair { &TaskService::filterNameChanged, "filterNameChanged" },
           std::pair { &TaskService::filterActiveChanged, "filterActiveChanged" } }) {
        const QString text = QString::fromLatin1(name);
        connect(s, signal, &context, [&order, text] { order << text; });
    }
    connect(m_model.get(), &QAbstractItemModel::modelAboutToBeReset, &context,
            [&order] { order << QStringLiteral("modelAboutToBeReset"); });
    connect(m_model.get(), &QAbstractItemModel::modelReset, &context,
            [&order] { order << QStringLiteral("modelReset"); });
    action();
    return order;
}

int TestTaskService::scalar(const QString &sql)
{
    auto q = query();
    if (!q.exec(sql) || !q.next())
        return INT_MIN;
    return q.value(0).toInt();
}

void TestTaskService::emptyAccount()
{
    const QStringList order = recordLoad([this] { m_service->loadPage(1); });
    QCOMPARE(order, kLoadSignals);
    QCOMPARE(m_service->totalPages(), 1);
    QCOMPARE(m_service->currentPage(), 1);
    QCOMPARE(m_service->totalCount(), 0);
    QCOMPARE(m_service->activeCount(), 0);
    QCOMPARE(m_service->inactiveCount(), 0);
    QCOMPARE(m_model->rowCount(), 0);
}

void TestTaskService::pageCount_data()
{
    QTest::addColumn<int>("tasks");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("rowsOnLastPage");

    QTest::newRow("50 at 25") << 50 << 25 << 2 << 25;
    QTest::newRow("51 at 25") << 51 << 25 << 3 << 1;
    QTest::newRow("1 at 1") << 1 << 1 << 1 << 1;
    QTest::newRow("7 at 10") << 7 << 10 << 1 << 7;
}

void TestTaskService::pageCount()
{
    QFETCH(int, tasks);
    QFETCH(int, pageSize);
    QFETCH(int, pages);
    QFETCH(int, rowsOnLastPage);

    insertTasks(m_userId, tasks);
    m_service->setPageSize(pageSize);
    m_service->loadPage(INT_MAX);
    QCOMPARE(m_service->totalPages(), pages);
    QCOMPARE(m_service->currentPage(), pages);
    QCOMPARE(m_model->rowCount(), rowsOnLastPage);
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

    insertTasks(m_userId, 51);
    m_service->loadPage(start);
    QCOMPARE(m_service->currentPage(), start);

    const QStringList order = recordLoad([&] { m_service->loadPage(requested); });
    QStringList wanted { "countsChanged", "totalPagesChanged" };
    if (expected != start)
        wanted << QStringLiteral("currentPageChanged");
    wanted << QStringLiteral("modelAboutToBeReset") << QStringLiteral("modelReset");
    QCOMPARE(order, wanted);
    QCOMPARE(m_service->currentPage(), expected);
}

void TestTaskService::rowsNewestFirstAndPaged()
{
    insertTasks(m_userId, 12);
    m_service->setPageSize(5);
    m_service->loadPage(2);
    QCOMPARE(m_model->rowCount(), 5);
    QCOMPARE(m_model->nameAt(0), QStringLiteral("task 7"));
    QCOMPARE(m_model->nameAt(4), QStringLiteral("task 3"));
    m_service->loadPage(3);
    QCOMPARE(m_model->rowCount(), 2);
    QCOMPARE(m_model->nameAt(1), QStringLiteral("task 1"));
}

void TestTaskService::deletingLastRowOfLastPageClamps()
{
    insertTasks(m_userId, 6);
    m_service->setPageSize(5);
    m_service->loadPage(2);
    QCOMPARE(m_model->rowCount(), 1);
    const int id = m_model->taskIdAt(0);
    QSignalSpy pageSpy(m_service.get(), &TaskService::currentPageChanged);
    QVERIFY(m_service->deleteTask(id));
    QCOMPARE(m_service->totalPages(), 1);
    QCOMPARE(m_service->currentPage(), 1);
    QCOMPARE(pageSpy.count(), 1);
    QCOMPARE(m_model->rowCount(), 5);
}

void TestTaskService::countersIgnoreFilters()
{
    insertTasks(m_userId, 3, 1, QStringLiteral("done"));
    insertTasks(m_userId, 4, 0, QStringLiteral("open"));
    const int other = signUp(QStringLiteral("bob"));
    insertTasks(other, 9);
    QVERIFY(m_auth->login(QStringLiteral("ann"), QStringLiteral("password")));

    m_service->setFilterActive(1);
    QCOMPARE(m_model->rowCount(), 3);
    m_service->setFilterName(QStringLiteral("nothing matches this"));
    QCOMPARE(m_model->rowCount(), 0);
    QCOMPARE(m_service->totalPages(), 1);
    QCOMPARE(m_service->totalCount(), 7);
    QCOMPARE(m_service->activeCount(), 3);
    QCOMPARE(m_service->inactiveCount(), 4);
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
        QVERIFY(m_service->createTask(QString::fromUtf8(name), QDateTime()));
    m_service->setFilterName(search);
    QCOMPARE(m_model->rowCount(), matches);
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks"), 7);
}

void TestTaskService::filterNameTrimAndNoOp()
{
    insertTasks(m_userId, 3, 0, QStringLiteral("milk"));
    m_service->loadPage(1);

    QStringList order =
            recordLoad([this] { m_service->setFilterName(QStringLiteral("  milk 2 ")); });
    QCOMPARE(order, QStringList { "filterNameChanged" } + kLoadSignals);
    QCOMPARE(m_service->filterName(), QStringLiteral("milk 2"));
    QCOMPARE(m_model->rowCount(), 1);

    order = recordLoad([this] { m_service->setFilterName(QStringLiteral("milk 2\t")); });
    QVERIFY(order.isEmpty());

    // Comparison is exact: another letter case is another filter.
    order = recordLoad([this] { m_service->setFilterName(QStringLiteral("MILK 2")); });
    QCOMPARE(order.first(), QStringLiteral("filterNameChanged"));

    order = recordLoad([this] { m_service->setFilterName(QStringLiteral("   ")); });
    QCOMPARE(order.first(), QStringLiteral("filterNameChanged"));
    QCOMPARE(m_service->filterName(), QString());
    QCOMPARE(m_model->rowCount(), 3);
}

void TestTaskService::filterActiveNormalisesAndNoOp()
{
    insertTasks(m_userId, 2, 1);
    insertTasks(m_userId, 3, 0);
    m_service->loadPage(1);

    QVERIFY(recordLoad([this] { m_service->setFilterActive(5); }).isEmpty());
    QCOMPARE(m_service->filterActive(), -1);

    QCOMPARE(recordLoad([this] { m_service->setFilterActive(0); }),
             QStringList { "filterActiveChanged" } + kLoadSignals);
    QCOMPARE(m_model->rowCount(), 3);
    QCOMPARE(recordLoad([this] { m_service->setFilterActive(1); }).size(), 5);
    QCOMPARE(m_model->rowCount(), 2);
    m_service->setFilterActive(INT_MIN);
    QCOMPARE(m_service->filterActive(), -1);
    QCOMPARE(m_model->rowCount(), 5);

    // A filter change always returns to page 1.
    m_service->setPageSize(1);
    m_service->loadPage(4);
    m_service->setFilterActive(0);
    QCOMPARE(m_service->currentPage(), 1);
}

void TestTaskService::pageSizeBoundsAndPersistence()
{
    insertTasks(m_userId, 3);
    m_service->loadPage(1);
    QCOMPARE(m_service->pageSize(), 25);
    QVERIFY(!appSettings().contains("taskPageSize"));

    QSignalSpy spy(m_service.get(), &TaskService::pageSizeChanged);
    QSignalSpy resets(m_model.get(), &QAbstractItemModel::modelReset);
    m_service->setPageSize(0);
    QCOMPARE(m_service->pageSize(), 1);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(appSettings().value("taskPageSize").toInt(), 1);
    // Nothing is reloaded until the caller loads a page.
    QCOMPARE(resets.count(), 0);
    QCOMPARE(m_model->rowCount(), 3);

    m_service->setPageSize(-3);
    QCOMPARE(spy.count(), 1);

    appSettings().remove("taskPageSize");
    m_service->setPageSize(1);
    QVERIFY(!appSettings().contains("taskPageSize"));

    m_service->setPageSize(50);
    QCOMPARE(spy.count(), 2);
    TaskService second(m_db.get(), m_auth.get(), m_model.get());
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
    TaskService service(m_db.get(), m_auth.get(), m_model.get());
    QCOMPARE(service.pageSize(), expected);
}

void TestTaskService::createRefusesBlankName()
{
    m_service->loadPage(1);
    QSignalSpy resets(m_model.get(), &QAbstractItemModel::modelReset);
    QVERIFY(!m_service->createTask(QStringLiteral(" \t\n "), QDateTime::currentDateTimeUtc()));
    QVERIFY(!m_service->createTask(QString(), QDateTime::currentDateTimeUtc()));
    QCOMPARE(resets.count(), 0);
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks"), 0);

    QVERIFY(m_service->createTask(QStringLiteral("  padded  "), QDateTime::currentDateTimeUtc()));
    QCOMPARE(resets.count(), 1);
    QCOMPARE(m_model->nameAt(0), QStringLiteral("padded"));
    // Created Done unless told otherwise.
    QCOMPARE(scalar("SELECT active FROM tasks"), 1);
    QVERIFY(m_service->createTask(QStringLiteral("pending"), QDateTime(), false));
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

    QVERIFY(m_service->createTask(QStringLiteral("t"), due, false));
    auto q = query();
    QVERIFY(q.exec("SELECT expire_at, expire_at_epoch, typeof(expire_at_epoch) FROM tasks"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("2030-01-15T03:35:12.250Z"));
    QCOMPARE(q.value(1).toLongLong(), due.toSecsSinceEpoch());
    QCOMPARE(q.value(2).toString(), QStringLiteral("integer"));

    QCOMPARE(m_model->expireAt(0), due);
    QCOMPARE(m_model->expireAt(0).timeSpec(), Qt::LocalTime);
    // Asia/Kolkata is UTC+05:30.
    QCOMPARE(m_model->data(m_model->index(0, 3)).toString(),
             QStringLiteral("Tue 15 January 09:05"));
}

void TestTaskService::invalidDueTimeIsNull()
{
    QVERIFY(m_service->createTask(QStringLiteral("someday"), QDateTime(), false));
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks WHERE expire_at IS NULL AND expire_at_epoch IS "
                    "NULL"),
             1);
    QVERIFY(!m_model->expireAt(0).isValid());
    QCOMPARE(m_model->data(m_model->index(0, 3)).toString(), QString());
    QVERIFY(m_service->nextDueTask(INT_MAX).isEmpty());

    const int id = m_model->taskIdAt(0);
    QVERIFY(m_service->updateTask(id, QStringLiteral("x"), false, QDateTime::currentDateTimeUtc()));
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks WHERE expire_at_epoch IS NOT NULL"), 1);
    QVERIFY(m_service->updateTask(id, QStringLiteral("x"), false, QDateTime()));
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks WHERE expire_at IS NULL AND expire_at_epoch IS "
                    "NULL"),
             1);
}

void TestTaskService::updateAndDelete()
{
    QVERIFY(m_service->createTask(QStringLiteral("first"), QDateTime(), false));
    const int id = m_model->taskIdAt(0);
    const QDateTime due = QDateTime::currentDateTimeUtc().addDays(2);

    QSignalSpy resets(m_model.get(), &QAbstractItemModel::modelReset);
    QVERIFY(m_service->updateTask(id, QStringLiteral("  renamed "), true, due));
    QCOMPARE(resets.count(), 1);
    QCOMPARE(m_model->nameAt(0), QStringLiteral("renamed"));
    QVERIFY(m_model->activeAt(0));
    QCOMPARE(m_model->expireAt(0).toSecsSinceEpoch(), due.toSecsSinceEpoch());
    QCOMPARE(m_service->activeCount(), 1);

    // Unlike creation, an update stores an empty name.
    QVERIFY(m_service->updateTask(id, QStringLiteral("   "), true, due));
    QCOMPARE(m_model->nameAt(0), QString());

    QVERIFY(m_service->deleteTask(id));
    QCOMPARE(m_model->rowCount(), 0);
    QCOMPARE(m_service->totalCount(), 0);
    // Deleting what is gone still succeeds and reloads.
    QVERIFY(m_service->deleteTask(id));
    QCOMPARE(resets.count(), 4);
}

void TestTaskService::otherAccountsTasksUntouched()
{
    const int annId = m_userId;
    const int bobId = signUp(QStringLiteral("bob"));
    insertTasks(bobId, 1, 1, QStringLiteral("bob's"));
    const int bobTask = scalar("SELECT id FROM tasks WHERE user_id = " + QString::number(bobId));
    QVERIFY(m_auth->login(QStringLiteral("ann"), QStringLiteral("password")));
    QCOMPARE(m_auth->userId(), annId);

    QVERIFY(m_service->updateTask(bobTask, QStringLiteral("hijacked"), false, QDateTime()));
    QVERIFY(m_service->deleteTask(bobTask));
    QVERIFY(m_service->deleteAllInactive());
    auto q = query();
    QVERIFY(q.exec("SELECT name, active FROM tasks"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("bob's 1"));
    QCOMPARE(q.value(1).toInt(), 1);
    QCOMPARE(m_model->rowCount(), 0);
}

void TestTaskService::idsBelowOneRefused()
{
    m_service->loadPage(1);
    QSignalSpy resets(m_model.get(), &QAbstractItemModel::modelReset);
    for (int id : { 0, -1, INT_MIN }) {
        QVERIFY(!m_service->updateTask(id, QStringLiteral("x"), false, QDateTime()));
        QVERIFY(!m_service->deleteTask(id));
    }
    QCOMPARE(resets.count(), 0);
}

void TestTaskService::deleteAllInactiveAcrossPagesAndFilters()
{
    insertTasks(m_userId, 30, 1, QStringLiteral("done"));
    insertTasks(m_userId, 12, 0, QStringLiteral("open"));
    m_service->setPageSize(10);
    m_service->setFilterActive(0);
    m_service->setFilterName(QStringLiteral("open 1"));
    m_service->loadPage(2);

    QVERIFY(m_service->deleteAllInactive());
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks WHERE active = 1"), 0);
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks WHERE active = 0"), 12);
    QCOMPARE(m_service->activeCount(), 0);
    QCOMPARE(m_service->inactiveCount(), 12);
    // "open 1", "open 10", "open 11", "open 12" fit on one page.
    QCOMPARE(m_service->currentPage(), 1);
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
        QVERIFY(query().exec("DELETE FROM tasks"));
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const QDateTime due = QDateTime::fromSecsSinceEpoch(now + offset, QTimeZone::utc());
        QVERIFY(m_service->createTask(QStringLiteral("soon"), due, false));
        const QVariantMap next = m_service->nextDueTask(minutes);
        if (QDateTime::currentSecsSinceEpoch() != now)
            continue;
        QCOMPARE(!next.isEmpty(), offered);
        if (offered) {
            QCOMPARE(next.value("id").toInt(), m_model->taskIdAt(0));
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
    QVERIFY(m_service->createTask(QStringLiteral("later"), now.addSecs(300), false));
    QVERIFY(m_service->createTask(QStringLiteral("done"), now.addSecs(60), true));
    QVERIFY(m_service->createTask(QStringLiteral("earlier"), now.addSecs(120), false));
    QVERIFY(m_service->createTask(QStringLiteral("past"), now.addSecs(-120), false));
    m_service->setFilterName(QStringLiteral("later"));

    QCOMPARE(m_service->nextDueTask(10).value("name").toString(), QStringLiteral("earlier"));
    const int other = signUp(QStringLiteral("bob"));
    QVERIFY(other > 0);
    QVERIFY(m_service->nextDueTask(10).isEmpty());
}

void TestTaskService::dueTasksListsEveryTaskInOrder()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVERIFY(m_service->createTask(QStringLiteral("b"), now.addSecs(240), false));
    QVERIFY(m_service->createTask(QStringLiteral("a1"), now.addSecs(120), false));
    QVERIFY(m_service->createTask(QStringLiteral("a2"), now.addSecs(120), false));
    QVERIFY(m_service->createTask(QStringLiteral("done"), now.addSecs(60), true));
    QVERIFY(m_service->createTask(QStringLiteral("outside"), now.addSecs(3600), false));

    const QList<QVariantMap> due = m_service->dueTasks(10);
    QStringList names;
    for (const QVariantMap &task : due)
        names << task.value("name").toString();
    QCOMPARE(names, (QStringList { "a1", "a2", "b" }));
    QCOMPARE(due.first().keys(), m_service->nextDueTask(10).keys());
    QVERIFY(m_service->dueTasks(-1).isEmpty());
}

void TestTaskService::createdAtShownInLocalTime()
{
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QVERIFY(m_service->createTask(QStringLiteral("now"), QDateTime()));
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    const QDateTime created = m_model->createAt(0);
    QCOMPARE(created.timeSpec(), Qt::LocalTime);
    QVERIFY2(created >= before && created <= after, qPrintable(created.toString(Qt::ISODate)));
    // The wall-clock text is local (UTC+05:30 here), not the UTC text the database holds.
    QCOMPARE(m_model->data(m_model->index(0, 4)).toString(),
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
    sqlite.start(QStringLiteral("sqlite3"), { m_db->database().databaseName(), sql });
    if (!sqlite.waitForFinished(10000) || sqlite.exitCode() != 0)
        QSKIP("the sqlite3 command-line tool is not available");

    m_service->loadPage(1);
    QCOMPARE(m_model->rowCount(), 1);
    QCOMPARE(m_model->expireAt(0),
             QDateTime(QDate(2031, 6, 30), QTime(18, 45), QTimeZone::utc()).toLocalTime());
    QCOMPARE(m_model->data(m_model->index(0, 3)).toString(), QStringLiteral("Tue 01 July 00:15"));
    QCOMPARE(m_model->data(m_model->index(0, 4)).toString(), QStringLiteral("Mon 02 June 01:40"));
}

void TestTaskService::signedOutRefusesEverything()
{
    QVERIFY(m_service->createTask(QStringLiteral("mine"),
                                  QDateTime::currentDateTimeUtc().addSecs(60), false));
    const int id = m_model->taskIdAt(0);
    m_auth->logout();

    const QStringList order = recordLoad([&] {
        m_service->loadPage(1);
        QVERIFY(!m_service->createTask(QStringLiteral("x"), QDateTime()));
        QVERIFY(!m_service->updateTask(id, QStringLiteral("x"), true, QDateTime()));
        QVERIFY(!m_service->deleteTask(id));
        QVERIFY(!m_service->deleteAllInactive());
        QVERIFY(m_service->nextDueTask(10).isEmpty());
        QVERIFY(m_service->dueTasks(10).isEmpty());
    });
    QVERIFY(order.isEmpty());
    // The last page stays in the model until the next sign-in loads another.
    QCOMPARE(m_model->rowCount(), 1);
    QCOMPARE(m_service->totalCount(), 1);
    QCOMPARE(scalar("SELECT COUNT(*) FROM tasks WHERE name = 'mine' AND active = 0"), 1);

    TaskService noAuth(m_db.get(), nullptr, m_model.get());
    QVERIFY(!noAuth.createTask(QStringLiteral("x"), QDateTime()));
    DbManager closed;
    QVERIFY(m_auth->login(QStringLiteral("ann"), QStringLiteral("password")));
    TaskService closedDb(&closed, m_auth.get(), m_model.get());
    QVERIFY(!closedDb.createTask(QStringLiteral("x"), QDateTime()));
    QVERIFY(closedDb.nextDueTask(10).isEmpty());
}

void TestTaskService::extremeNumbers()
{
    insertTasks(m_userId, 3);
    m_service->setPageSize(INT_MAX);
    m_service->loadPage(INT_MAX);
    QCOMPARE(m_service->totalPages(), 1);
    QCOMPARE(m_model->rowCount(), 3);

    m_service->setPageSize(1);
    m_service->loadPage(INT_MAX);
    QCOMPARE(m_service->currentPage(), 3);
    QCOMPARE(m_model->nameAt(0), QStringLiteral("task 1"));
}

QTEST_GUILESS_MAIN(TestTaskService)
#include "tst_taskservice.moc"
