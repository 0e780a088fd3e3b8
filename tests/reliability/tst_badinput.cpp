// Bad and extreme input through the real services, the way the window hands it over: every
// value either comes back exactly as it went in or is refused as designed, without a crash.
#include "fixture.h"
#include "settingsservice.h"
#include "testenv.h"

#include <QFile>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <climits>
#include <memory>

namespace {

constexpr int kMegabyte = 1 << 20;

// A name of 1 MiB characters mixing ASCII, accented letters, an emoji and a line feed.
QString megabyteName()
{
    const QString piece = QStringLiteral("abc Ää 😀\n");
    QString text;
    text.reserve(kMegabyte + piece.size());
    while (text.size() < kMegabyte)
        text += piece;
    text.truncate(kMegabyte);
    return QStringLiteral("big ") + text + QStringLiteral(" end");
}

QDateTime utc(int year, int month, int day, int hour, int minute, int second, int ms = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, ms), QTimeZone::utc());
}

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void taskNames_data();
    void taskNames();
    void dueTimesFromTheWindow_data();
    void dueTimesFromTheWindow();
    void passwords_data();
    void passwords();
    void usernamesDifferingInCaseOrBlanks();
    void pagingExtremes_data();
    void pagingExtremes();
    void leadTimes_data();
    void leadTimes();
    void settingsStoreHoldingNonNumbers_data();
    void settingsStoreHoldingNonNumbers();

private:
    QVariant scalar(const QString &sql, const QVariant &bound = QVariant()) const
    {
        return m_app->scalar(sql, bound);
    }
    // Calls a service as the window does, with arguments the QML engine converts.
    QVariant callFromQml(const QString &expression, const QVariantMap &arguments);
    qint64 onlyTaskId() const
    {
        return scalar(QStringLiteral("SELECT MAX(id) FROM tasks")).toLongLong();
    }

    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<ProgramServices> m_app;
    std::unique_ptr<QQmlEngine> m_engine;
};

void TestBadInput::init()
{
    m_config = testEnvironment.newSettingsDirectory(QStringLiteral("config"));
    QVERIFY(m_config->isValid());

    m_app = std::make_unique<ProgramServices>(testEnvironment.newDatabasePath());
    QVERIFY(m_app->opened);
    QVERIFY(signUp(m_app->auth, QStringLiteral("ann"), QStringLiteral("Ann")) > 0);

    m_engine = std::make_unique<QQmlEngine>();
    m_app->services.publish(m_engine.get());
}

void TestBadInput::cleanup()
{
    m_engine.reset();
    m_app.reset();
    releaseDefaultConnection();
}

QVariant TestBadInput::callFromQml(const QString &expression, const QVariantMap &arguments)
{
    QQmlContext context(m_engine->rootContext());
    for (auto it = arguments.begin(); it != arguments.end(); ++it)
        context.setContextProperty(it.key(), it.value());
    QQmlExpression call(&context, nullptr, expression);
    const QVariant result = call.evaluate();
    if (call.hasError())
        qWarning() << call.error().toString();
    return result;
}

void TestBadInput::taskNames_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    // Rows a search for the stored name finds: SQLite refuses LIKE patterns over 50000 bytes,
    // which the list treats as a failed query (nothing found), and it ends a pattern at a NUL.
    QTest::addColumn<int>("found");

    const QString big = megabyteName();
    QTest::newRow("1 MiB") << big << big << 0;
    const QString withNul = QStringLiteral("before") + QChar(0) + QStringLiteral("after");
    QTest::newRow("NUL inside") << withNul << withNul << 1;
    QTest::newRow("newlines inside and around")
            << QStringLiteral("\n line one\nline two\r\nline three \n")
            << QStringLiteral("line one\nline two\r\nline three") << 1;
    QTest::newRow("emoji") << QStringLiteral("🎉 family 👩‍👩‍👧‍👦 flag 🇮🇳")
                           << QStringLiteral("🎉 family 👩‍👩‍👧‍👦 flag 🇮🇳")
                           << 1;
    // Hebrew, a right-to-left override and Arabic.
    const QString rtl = QStringLiteral("שלום עולם ") + QChar(0x202e) + QStringLiteral(" مرحبا 123");
    QTest::newRow("right to left") << rtl << rtl << 1;
    QTest::newRow("SQL metacharacters") << QStringLiteral("'; DROP TABLE tasks; --")
                                        << QStringLiteral("'; DROP TABLE tasks; --") << 1;
    QTest::newRow("quotes and semicolons") << QStringLiteral("\"x\"); DELETE FROM users; /*")
                                           << QStringLiteral("\"x\"); DELETE FROM users; /*") << 1;
    QTest::newRow("LIKE wildcards")
            << QStringLiteral("100% _done_ \\%") << QStringLiteral("100% _done_ \\%") << 1;
}

// A task made with the name as typed in the window: the name comes back trimmed and otherwise
// unchanged, from the list and from the file, after a create and after an edit.
void TestBadInput::taskNames()
{
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    QFETCH(int, found);

    const QDateTime due = utc(2031, 5, 6, 7, 8, 9);
    QVERIFY(callFromQml(QStringLiteral("taskService.createTask(name, due, false)"),
                        { { "name", typed }, { "due", due.toString(Qt::ISODateWithMs) } })
                    .toBool());
    const qint64 id = onlyTaskId();
    QVERIFY(id > 0);
    QCOMPARE(m_app->model.rowCount(), 1);
    QCOMPARE(m_app->model.nameAt(0).size(), stored.size());
    QVERIFY(m_app->model.nameAt(0) == stored);
    QVERIFY(m_app->model.data(m_app->model.index(0, 1)).toString() == stored);
    QVERIFY(scalar(QStringLiteral("SELECT name FROM tasks WHERE id = ?"), id).toString() == stored);
    QCOMPARE(m_app->model.expireAt(0), due);

    // Nothing typed reaches the SQL text: both tables and the account are still there.
    QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM users")).toInt(), 1);
    QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM tasks")).toInt(), 1);

    m_app->tasks.setFilterName(stored);
    QCOMPARE(m_app->model.rowCount(), found);
    QCOMPARE(m_app->tasks.totalPages(), 1);
    QCOMPARE(m_app->tasks.totalCount(), 1);
    m_app->tasks.setFilterName(QString());
    QCOMPARE(m_app->model.rowCount(), 1);

    const QString edited = typed + QStringLiteral(" (edited)");
    QVERIFY(callFromQml(QStringLiteral("taskService.updateTask(id, name, true, due)"),
                        { { "id", id },
                          { "name", edited },
                          { "due", due.toString(Qt::ISODateWithMs) } })
                    .toBool());
    const QString storedEdit = edited.trimmed();
    QVERIFY(m_app->model.nameAt(0) == storedEdit);
    QVERIFY(scalar(QStringLiteral("SELECT name FROM tasks WHERE id = ?"), id).toString()
            == storedEdit);
    QCOMPARE(m_app->model.activeAt(0), true);
}

void TestBadInput::dueTimesFromTheWindow_data()
{
    // The window sends the due time as the ISO text of a JavaScript Date in UTC.
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QVariant>("expireAt"); // the stored text, or null
    QTest::addColumn<QVariant>("epoch"); // the stored seconds, or null
    QTest::addColumn<QString>("shown"); // the list's text in Asia/Kolkata (UTC+05:30)

    const QVariant null;
    QTest::newRow("start of 1970")
            << "1970-01-01T00:00:00.000Z" << QVariant("1970-01-01T00:00:00.000Z")
            << QVariant(qint64(0)) << "Thu 01 January 1970 05:30";
    QTest::newRow("one second past 32-bit time")
            << "2038-01-19T03:14:08.000Z" << QVariant("2038-01-19T03:14:08.000Z")
            << QVariant(qint64(2147483648LL)) << "Tue 19 January 2038 08:44";
    QTest::newRow("last moment of 9999")
            << "9999-12-31T18:29:59.999Z" << QVariant("9999-12-31T18:29:59.999Z")
            << QVariant(qint64(253402280999LL)) << "Fri 31 December 9999 23:59";
    QTest::newRow("no such day") << "2024-02-30T10:00:00.000Z" << null << null << "";
    QTest::newRow("hour 25") << "2024-01-01T25:00:00.000Z" << null << null << "";
    QTest::newRow("not a date") << "soon" << null << null << "";
    QTest::newRow("empty") << "" << null << null << "";
}

void TestBadInput::dueTimesFromTheWindow()
{
    QFETCH(QString, sent);
    QFETCH(QVariant, expireAt);
    QFETCH(QVariant, epoch);
    QFETCH(QString, shown);

    QVERIFY(callFromQml(QStringLiteral("taskService.createTask('due', due, false)"),
                        { { "due", sent } })
                    .toBool());
    const qint64 id = onlyTaskId();
    const auto check = [&] {
        const QVariant storedText =
                scalar(QStringLiteral("SELECT expire_at FROM tasks WHERE id = ?"), id);
        QCOMPARE(storedText.isNull(), expireAt.isNull());
        QCOMPARE(storedText.toString(), expireAt.toString());
        const QVariant storedEpoch =
                scalar(QStringLiteral("SELECT expire_at_epoch FROM tasks WHERE id = ?"), id);
        QCOMPARE(storedEpoch.isNull(), epoch.isNull());
        if (!epoch.isNull())
            QCOMPARE(storedEpoch.toLongLong(), epoch.toLongLong());
        QCOMPARE(m_app->model.data(m_app->model.index(0, 3)).toString(), shown);
        QCOMPARE(m_app->model.expireAt(0).isValid(), epoch.isValid());
        if (epoch.isValid())
            QCOMPARE(m_app->model.expireAt(0).toSecsSinceEpoch(), epoch.toLongLong());
    };
    check();

    // An edit sends the same value again and must leave the same row behind.
    QVERIFY(callFromQml(QStringLiteral("taskService.updateTask(id, 'due', false, due)"),
                        { { "id", id }, { "due", sent } })
                    .toBool());
    check();

    // A due time far ahead or missing never makes a reminder; one in the past neither.
    QVERIFY(m_app->tasks.nextDueTask(60).isEmpty());
}

void TestBadInput::passwords_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("nearMiss"); // differs from the password; must not sign in

    QString big(kMegabyte, QLatin1Char('p'));
    big[kMegabyte / 2] = QChar(0x00e9);
    QString bigMiss = big;
    bigMiss[kMegabyte - 1] = QLatin1Char('q');
    QTest::newRow("1 MiB") << big << true << bigMiss;

    // U+1D11E takes two UTF-16 code units; the length rule counts code units.
    const QString clef = QStringLiteral("𝄞");
    QTest::newRow("four astral characters count as eight")
            << clef.repeated(4) << true << clef.repeated(3) + "xx";
    QTest::newRow("three astral characters and one more count as seven")
            << clef.repeated(3) + "x" << false << QString();
    QTest::newRow("astral characters mixed")
            << QStringLiteral("p😀ss 🔑 wörd") << true << QStringLiteral("p😀ss 🔑 word");
    QTest::newRow("NUL inside") << QStringLiteral("pass") + QChar(0) + QStringLiteral("word")
                                << true << QStringLiteral("pass") + QChar(0) + "w0rd";
    QTest::newRow("SQL metacharacters")
            << QStringLiteral("' OR '1'='1") << true << QStringLiteral("' OR '1'='2");
}

void TestBadInput::passwords()
{
    QFETCH(QString, password);
    QFETCH(bool, accepted);
    QFETCH(QString, nearMiss);

    m_app->auth.logout();
    QCOMPARE(callFromQml(QStringLiteral("auth.registerUser('bea', password, 'Bea')"),
                         { { "password", password } })
                     .toBool(),
             accepted);
    QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM users WHERE username = 'bea'")).toInt(),
             accepted ? 1 : 0);
    if (!accepted)
        return;

    QVERIFY(!callFromQml(QStringLiteral("auth.login('bea', password)"),
                         { { "password", nearMiss } })
                     .toBool());
    QVERIFY(!m_app->auth.isLoggedIn());
    QVERIFY(callFromQml(QStringLiteral("auth.login('bea', password)"), { { "password", password } })
                    .toBool());
    QCOMPARE(m_app->auth.userName(), QStringLiteral("Bea"));
}

// Usernames are stored trimmed and compared exactly: letter case makes another account, and
// blanks typed at sign-in do not match.
void TestBadInput::usernamesDifferingInCaseOrBlanks()
{
    m_app->auth.logout();
    const QString pw = QStringLiteral("password1");
    QVERIFY(m_app->auth.registerUser(QStringLiteral("Alice"), pw, QStringLiteral("Upper Alice")));
    QVERIFY(m_app->auth.registerUser(QStringLiteral("alice"), pw + "2",
                                     QStringLiteral("Lower Alice")));
    QVERIFY(m_app->auth.registerUser(QStringLiteral("Émile"), pw, QStringLiteral("Upper Émile")));
    QVERIFY(m_app->auth.registerUser(QStringLiteral("émile"), pw, QStringLiteral("Lower Émile")));
    QVERIFY(!m_app->auth.login(QStringLiteral("ALICE"), pw));
    QVERIFY(!m_app->auth.login(QStringLiteral("alice"), pw));
    QVERIFY(m_app->auth.login(QStringLiteral("alice"), pw + "2"));
    QCOMPARE(m_app->auth.userName(), QStringLiteral("Lower Alice"));
    QVERIFY(m_app->auth.login(QStringLiteral("Émile"), pw));
    QCOMPARE(m_app->auth.userName(), QStringLiteral("Upper Émile"));

    QVERIFY(m_app->auth.registerUser(QStringLiteral("  bob \t"), pw, QStringLiteral("  Bob  ")));
    QCOMPARE(scalar(QStringLiteral("SELECT name FROM users WHERE username = 'bob'")).toString(),
             QStringLiteral("Bob"));
    QVERIFY(!m_app->auth.registerUser(QStringLiteral("bob"), pw, QStringLiteral("Other Bob")));
    QVERIFY(!m_app->auth.registerUser(QStringLiteral("\nbob\n"), pw, QStringLiteral("Other Bob")));
    QVERIFY(!m_app->auth.registerUser(QStringLiteral(" \t "), pw, QStringLiteral("Nobody")));
    QVERIFY(!m_app->auth.login(QStringLiteral(" bob"), pw));
    QVERIFY(!m_app->auth.login(QStringLiteral("bob "), pw));
    QVERIFY(m_app->auth.login(QStringLiteral("bob"), pw));
    QCOMPARE(m_app->auth.userName(), QStringLiteral("Bob"));
    QCOMPARE(scalar(QStringLiteral("SELECT COUNT(*) FROM users")).toInt(), 6);
}

void TestBadInput::pagingExtremes_data()
{
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("keptPageSize");
    QTest::addColumn<int>("shownPage");
    QTest::addColumn<int>("totalPages");
    QTest::addColumn<QString>("firstName"); // newest first: "task 7" ... "task 1"

    QTest::newRow("size 0, page INT_MIN") << 0 << INT_MIN << 1 << 1 << 7 << "task 7";
    QTest::newRow("size 0, page INT_MAX") << 0 << INT_MAX << 1 << 7 << 7 << "task 1";
    QTest::newRow("size -1, page INT_MAX") << -1 << INT_MAX << 1 << 7 << 7 << "task 1";
    QTest::newRow("size INT_MIN, page 2") << INT_MIN << 2 << 1 << 2 << 7 << "task 6";
    QTest::newRow("size INT_MAX, page INT_MIN")
            << INT_MAX << INT_MIN << INT_MAX << 1 << 1 << "task 7";
    QTest::newRow("size INT_MAX, page INT_MAX")
            << INT_MAX << INT_MAX << INT_MAX << 1 << 1 << "task 7";
    QTest::newRow("size 3, page INT_MAX") << 3 << INT_MAX << 3 << 3 << 3 << "task 1";
}

void TestBadInput::pagingExtremes()
{
    QFETCH(int, pageSize);
    QFETCH(int, page);
    QFETCH(int, keptPageSize);
    QFETCH(int, shownPage);
    QFETCH(int, totalPages);
    QFETCH(QString, firstName);

    QVERIFY(m_app->insertTasks(m_app->auth.userId(), 7));

    // The page size combo box and the pager reach the service through QML.
    callFromQml(QStringLiteral("taskService.pageSize = size"), { { "size", pageSize } });
    callFromQml(QStringLiteral("taskService.loadPage(page)"), { { "page", page } });
    QCOMPARE(m_app->tasks.pageSize(), keptPageSize);
    QCOMPARE(m_app->tasks.currentPage(), shownPage);
    QCOMPARE(m_app->tasks.totalPages(), totalPages);
    QCOMPARE(m_app->model.nameAt(0), firstName);
    QCOMPARE(m_app->model.rowCount(), std::min(keptPageSize, 7 - (shownPage - 1) * keptPageSize));

    // The kept size is what the next run starts with.
    TaskService nextRun(&m_app->db, &m_app->auth, &m_app->model);
    QCOMPARE(nextRun.pageSize(), keptPageSize);
}

void TestBadInput::leadTimes_data()
{
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QString>("offered"); // the task nextDueTask names, or empty

    // Pending tasks: one 30 minutes ahead, one in 2038, one in 9999, and one a minute ago.
    QTest::newRow("0") << 0 << "";
    QTest::newRow("-1") << -1 << "";
    QTest::newRow("INT_MIN") << INT_MIN << "";
    QTest::newRow("30") << 30 << "soon";
    // INT_MAX minutes reach about 4000 years ahead: the 2038 task is not the earliest, the
    // task due soon is, and the year 9999 stays out of reach.
    QTest::newRow("INT_MAX") << INT_MAX << "soon";
}

void TestBadInput::leadTimes()
{
    QFETCH(int, minutes);
    QFETCH(QString, offered);

    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVERIFY(m_app->tasks.createTask(QStringLiteral("past"), now.addSecs(-60), false));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("far"), utc(9999, 12, 31, 0, 0, 0), false));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("2038"), utc(2038, 1, 19, 3, 14, 8), false));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("soon"), now.addSecs(30 * 60), false));

    SettingsService settings;
    settings.setNotifyMinutes(minutes);
    QCOMPARE(SettingsService().notifyMinutes(), minutes);

    const QVariantMap next = m_app->tasks.nextDueTask(settings.notifyMinutes());
    QCOMPARE(next.value(QStringLiteral("name")).toString(), offered);
    QCOMPARE(next.isEmpty(), offered.isEmpty());
    // The reminder check asks for the whole window, earliest first.
    QStringList inWindow;
    for (const DueTask &task : m_app->tasks.dueTasks(settings.notifyMinutes()))
        inWindow.append(task.name);
    QCOMPARE(inWindow.value(0), offered);
    QCOMPARE(inWindow.size(), minutes == INT_MAX ? 2 : int(!offered.isEmpty()));

    // Without the task due soon, the widest window offers the 2038 task.
    if (minutes == INT_MAX) {
        QVERIFY(m_app->tasks.deleteTask(next.value(QStringLiteral("id")).toInt()));
        const QVariantMap later = m_app->tasks.nextDueTask(minutes);
        QCOMPARE(later.value(QStringLiteral("name")).toString(), QStringLiteral("2038"));
        QCOMPARE(later.value(QStringLiteral("expire_at_epoch")).toLongLong(), 2147483648LL);
    }
}

void TestBadInput::settingsStoreHoldingNonNumbers_data()
{
    QTest::addColumn<QByteArray>("fileText");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<QString>("sound");

    QTest::newRow("words") << QByteArray("[General]\nnotifyMinutes=soon\ntaskPageSize=lots\n"
                                         "soundFile=bell\n")
                           << 0 << 1 << "bell";
    QTest::newRow("numbers too large for int")
            << QByteArray("[General]\nnotifyMinutes=99999999999999999999\n"
                          "taskPageSize=4294967296\n")
            << 0 << 1 << "";
    QTest::newRow("lists") << QByteArray("[General]\nnotifyMinutes=1, 2\ntaskPageSize=3, 4\n"
                                         "soundFile=a, b\n")
                           << 0 << 1 << "";
    QTest::newRow("typed values") << QByteArray("[General]\nnotifyMinutes=@Invalid()\n"
                                                "taskPageSize=@ByteArray(50)\n"
                                                "soundFile=@Rect(1 2 3 4)\n")
                                  << 0 << 50 << "";
    QTest::newRow("broken typed values")
            << QByteArray("[General]\nnotifyMinutes=@Variant(\\0\\0\\0\\x7f\\0\\0)\n"
                          "taskPageSize=@Size(\nsoundFile=@\n")
            << 0 << 1 << "@";

    QByteArray noise(4096, Qt::Uninitialized);
    QRandomGenerator random(20240611);
    for (char &byte : noise)
        byte = char(random.bounded(256));
    QTest::newRow("random bytes") << noise << 10 << 25 << "";
}

// Whatever the store holds, the services start, keep working and write nothing back.
void TestBadInput::settingsStoreHoldingNonNumbers()
{
    QFETCH(QByteArray, fileText);
    QFETCH(int, minutes);
    QFETCH(int, pageSize);
    QFETCH(QString, sound);

    QVERIFY(writeSettingsFileIn(m_config->path(), fileText));

    {
        SettingsService settings;
        TaskService tasks(&m_app->db, &m_app->auth, &m_app->model);
        QCOMPARE(settings.notifyMinutes(), minutes);
        QCOMPARE(tasks.pageSize(), pageSize);
        QCOMPARE(settings.soundFile(), sound);

        QVERIFY(tasks.createTask(QStringLiteral("still works"), QDateTime::currentDateTimeUtc()));
        QCOMPARE(tasks.totalCount(), 1);
        QVERIFY(tasks.nextDueTask(settings.notifyMinutes()).isEmpty());
    }
    QFile in(settingsFileIn(m_config->path()));
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(in.readAll(), fileText);
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
