// Database files that cannot be used as they should: every operation fails with its own
// failure value, nothing crashes, and a file that is not ours is left exactly as it was.
//
// Read-only files only bind a process that cannot override permissions: run this test through
// unprivileged.sh when running as root (ctest does).
#include "fixture.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QUrl>

#include <sqlite3.h>

#include <memory>

namespace {

const auto kUser = QStringLiteral("ann");

QByteArray fileDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// Counts the statements that found the file locked, and lets each fail at once instead of
// waiting.
int busyWaits = 0;
int countBusyWait(void *, int)
{
    ++busyWaits;
    return 0;
}

QByteArray randomBytes(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return bytes;
}

} // namespace

class TestFaultyDatabase : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void notADatabase_data();
    void notADatabase();
    void readOnly_data();
    void readOnly();
    void foreignTasksTable();
    void lockedByAnotherProcess_data();
    void lockedByAnotherProcess();

private:
    QString m_dir;
    std::unique_ptr<QTemporaryDir> m_temp;
};

void TestFaultyDatabase::init()
{
    m_temp = testEnvironment.newSettingsDirectory(QStringLiteral("db"));
    QVERIFY(m_temp->isValid());
    m_dir = m_temp->path();
}

void TestFaultyDatabase::cleanup()
{
    releaseDefaultConnection();
    // Make everything removable again.
    QFile::setPermissions(m_dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_temp.reset();
}

void TestFaultyDatabase::notADatabase_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("64 KiB of random bytes") << randomBytes(65536, 7);
    // (A file of exactly one byte is different: SQLite takes it for an empty database and
    // writes a new one over it.)
    QTest::newRow("two random bytes") << randomBytes(2, 8);
    QTest::newRow("text") << QByteArray("Dear diary,\ntoday I kept my tasks in a text file.\n");
    // A damaged header: the magic text of a database with garbage behind it.
    QTest::newRow("database magic, then garbage")
            << QByteArray("SQLite format 3\0", 16) + randomBytes(8192, 9);
}

void TestFaultyDatabase::notADatabase()
{
    QFETCH(QByteArray, content);

    const QString path = m_dir + QStringLiteral("/taskmanager.db");
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
    }

    {
        TaskServices program(path);
        // Opening is lazy: the file is only read at the first statement.
        QVERIFY(program.opened);
        QVERIFY(!program.auth.registerUser(kUser, kTestPassword, QStringLiteral("Ann")));
        QVERIFY(!program.auth.login(kUser, kTestPassword));
        QVERIFY(!program.auth.isLoggedIn());
        program.auth.logout();

        QSignalSpy counts(&program.tasks, &TaskService::countsChanged);
        QSignalSpy resets(&program.model, &QAbstractItemModel::modelReset);
        program.tasks.loadPage(1);
        QVERIFY(!program.tasks.createTask(QStringLiteral("task"), QDateTime::currentDateTimeUtc()));
        QVERIFY(!program.tasks.updateTask(1, QStringLiteral("task"), true, QDateTime()));
        QVERIFY(!program.tasks.deleteTask(1));
        QVERIFY(!program.tasks.deleteAllInactive());
        QVERIFY(program.tasks.nextDueTask(INT_MAX).isEmpty());
        QCOMPARE(counts.count(), 0);
        QCOMPARE(resets.count(), 0);
    }

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == content);
    QVERIFY(!QFile::exists(path + QStringLiteral("-journal")));
    QCOMPARE(QDir(m_dir).entryList(QDir::Files), QStringList { QStringLiteral("taskmanager.db") });
}

void TestFaultyDatabase::readOnly_data()
{
    QTest::addColumn<bool>("fileReadOnly");
    QTest::addColumn<bool>("directoryReadOnly");

    QTest::newRow("read-only file") << true << false;
    QTest::newRow("read-only directory") << false << true;
    QTest::newRow("both") << true << true;
}

// Signing in and reading work; every write fails with false and leaves the list as it was.
void TestFaultyDatabase::readOnly()
{
    QFETCH(bool, fileReadOnly);
    QFETCH(bool, directoryReadOnly);

    const QString path = m_dir + QStringLiteral("/taskmanager.db");
    const QDateTime soon = QDateTime::currentDateTimeUtc().addSecs(300);
    {
        TaskServices program(path);
        QVERIFY(program.auth.registerUser(kUser, kTestPassword, QStringLiteral("Ann")));
        QVERIFY(program.auth.login(kUser, kTestPassword));
        QVERIFY(program.tasks.createTask(QStringLiteral("done"), soon, true));
        QVERIFY(program.tasks.createTask(QStringLiteral("pending"), soon, false));
    }
    releaseDefaultConnection();

    const auto readOnlyFile = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
    const auto readOnlyDir = readOnlyFile | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    if (fileReadOnly)
        QVERIFY(QFile::setPermissions(path, readOnlyFile));
    if (directoryReadOnly)
        QVERIFY(QFile::setPermissions(m_dir, readOnlyDir));
    {
        QFile probe(fileReadOnly ? path : m_dir + QStringLiteral("/probe"));
        if (probe.open(QIODevice::Append))
            QSKIP("this user writes to read-only files; run the test through unprivileged.sh");
    }
    const QByteArray before = fileDigest(path);

    TaskServices program(path);
    QVERIFY(program.opened);
    QVERIFY(program.auth.login(kUser, kTestPassword));
    QCOMPARE(program.auth.userName(), QStringLiteral("Ann"));
    program.tasks.loadPage(1);
    QCOMPARE(program.model.rowCount(), 2);
    QCOMPARE(program.tasks.totalCount(), 2);
    QCOMPARE(program.tasks.nextDueTask(10).value(QStringLiteral("name")).toString(),
             QStringLiteral("pending"));

    QSignalSpy resets(&program.model, &QAbstractItemModel::modelReset);
    const int id = program.model.taskIdAt(0);
    QVERIFY(!program.tasks.createTask(QStringLiteral("new"), soon, false));
    QVERIFY(!program.tasks.updateTask(id, QStringLiteral("renamed"), true, soon));
    QVERIFY(!program.tasks.deleteTask(id));
    QVERIFY(!program.tasks.deleteAllInactive());
    QVERIFY(!program.auth.registerUser(QStringLiteral("bea"), kTestPassword,
                                       QStringLiteral("Bea")));
    QCOMPARE(resets.count(), 0);
    QCOMPARE(program.model.rowCount(), 2);
    QCOMPARE(program.model.taskIdAt(0), id);

    // Still usable for reading after the refused writes.
    program.tasks.setFilterActive(1);
    QCOMPARE(program.model.rowCount(), 1);
    QCOMPARE(program.model.nameAt(0), QStringLiteral("done"));
    QCOMPARE(fileDigest(path), before);
}

// A file whose tasks table belongs to another program: accounts work, every task statement
// fails, and the list shows nothing without touching that table.
void TestFaultyDatabase::foreignTasksTable()
{
    const QString path = m_dir + QStringLiteral("/taskmanager.db");
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                       QStringLiteral("other program"));
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QSqlQuery query(other);
        QVERIFY(query.exec(
                QStringLiteral("CREATE TABLE tasks (id INTEGER PRIMARY KEY, title TEXT)")));
        QVERIFY(query.exec(QStringLiteral("INSERT INTO tasks (title) VALUES ('theirs')")));
        other.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other program"));

    TaskServices program(path);
    QVERIFY(program.auth.registerUser(kUser, kTestPassword, QStringLiteral("Ann")));
    QVERIFY(program.auth.login(kUser, kTestPassword));

    QSignalSpy counts(&program.tasks, &TaskService::countsChanged);
    QSignalSpy resets(&program.model, &QAbstractItemModel::modelReset);
    program.tasks.loadPage(3);
    QCOMPARE(counts.count(), 0);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(program.model.rowCount(), 0);
    QCOMPARE(program.tasks.totalPages(), 1);
    QCOMPARE(program.tasks.currentPage(), 1);
    QCOMPARE(program.tasks.totalCount(), 0);

    QVERIFY(!program.tasks.createTask(QStringLiteral("mine"), QDateTime::currentDateTimeUtc()));
    QVERIFY(!program.tasks.updateTask(1, QStringLiteral("mine"), true, QDateTime()));
    QVERIFY(!program.tasks.deleteTask(1));
    QVERIFY(!program.tasks.deleteAllInactive());
    QVERIFY(program.tasks.nextDueTask(INT_MAX).isEmpty());
    QCOMPARE(resets.count(), 1);

    QSqlQuery query(program.db.database());
    QVERIFY(query.exec(QStringLiteral("SELECT id, title FROM tasks")));
    QVERIFY(query.next());
    QCOMPARE(query.value(1).toString(), QStringLiteral("theirs"));
    QVERIFY(!query.next());
}

void TestFaultyDatabase::lockedByAnotherProcess_data()
{
    QTest::addColumn<QString>("command");
    for (const char *command :
         { "page load", "new task", "edit", "delete", "Delete Done", "export", "import" })
        QTest::newRow(command) << QString::fromLatin1(command);
}

// While another process holds the file locked, a page load or a command waits for it once (the
// busy handler counts the waits instead of waiting) and changes nothing: the list, its counters
// and the file stay as they were, and a command says that the file is in use. Once the lock is
// released the same works as usual.
void TestFaultyDatabase::lockedByAnotherProcess()
{
    QFETCH(QString, command);
    const QString path = m_dir + QStringLiteral("/taskmanager.db");
    ProgramServices program(path);
    QVERIFY(signUp(program.auth, kUser) > 0);
    QVERIFY(program.tasks.createTask(QStringLiteral("listed"), QDateTime(), true));
    program.tasks.loadPage(1);
    const qint64 id = program.model.taskIdAt(0);
    TaskTransfer &transfer = program.services.transfer();
    const QString calendar = m_dir + QStringLiteral("/in.ics");
    QFile file(calendar);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//Test//EN\r\nBEGIN:VTODO\r\n"
               "UID:in-1\r\nSUMMARY:imported\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    file.close();
    auto run = [&] {
        if (command == QLatin1String("page load")) {
            program.tasks.loadPage(1);
            return program.model.rowCount() == 1;
        }
        if (command == QLatin1String("new task"))
            return program.tasks.createTask(QStringLiteral("new"), QDateTime());
        if (command == QLatin1String("edit"))
            return program.tasks.updateTask(id, QStringLiteral("renamed"), false, QDateTime());
        if (command == QLatin1String("delete"))
            return program.tasks.deleteTask(id);
        if (command == QLatin1String("Delete Done"))
            return program.tasks.deleteAllInactive();
        if (command == QLatin1String("export"))
            return transfer.exportTasks(QUrl::fromLocalFile(m_dir + QStringLiteral("/out.ics")));
        return transfer.importTasks(QUrl::fromLocalFile(calendar));
    };
    auto *handle =
            *static_cast<sqlite3 *const *>(program.db.database().driver()->handle().constData());
    sqlite3_busy_handler(handle, countBusyWait, nullptr);

    const QByteArray before = fileDigest(path);
    QSignalSpy counts(&program.tasks, &TaskService::countsChanged);
    QSignalSpy pages(&program.tasks, &TaskService::totalPagesChanged);
    QSignalSpy resets(&program.model, &QAbstractItemModel::modelReset);
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                       QStringLiteral("other process"));
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        busyWaits = 0;
        const bool done = run();
        QCOMPARE(busyWaits, 1);
        QVERIFY(command == QLatin1String("page load") || !done);
        QCOMPARE(counts.count() + pages.count() + resets.count(), 0);
        QCOMPARE(program.model.rowCount(), 1);
        if (command == QLatin1String("export") || command == QLatin1String("import"))
            QVERIFY2(transfer.resultText().endsWith(
                             QLatin1String(": the task file is in use by another program")),
                     qPrintable(transfer.resultText()));
        else
            QCOMPARE(program.tasks.fileInUse(), command != QLatin1String("page load"));
        other.rollback();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other process"));
    QCOMPARE(fileDigest(path), before);

    busyWaits = 0;
    QVERIFY(run());
    QCOMPARE(busyWaits, 0);
    QVERIFY(!program.tasks.fileInUse());
}

QTEST_GUILESS_MAIN(TestFaultyDatabase)
#include "tst_faultydatabase.moc"
