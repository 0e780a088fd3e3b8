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
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

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

// While another process holds the file locked, a page load waits once and then leaves the list,
// its counters and its page as they were; afterwards it loads as usual.
void TestFaultyDatabase::lockedByAnotherProcess()
{
    const QString path = m_dir + QStringLiteral("/taskmanager.db");
    TaskServices program(path);
    QVERIFY(signUp(program.auth, kUser) > 0);
    QVERIFY(program.tasks.createTask(QStringLiteral("listed"), QDateTime()));
    QSignalSpy counts(&program.tasks, &TaskService::countsChanged);
    QSignalSpy pages(&program.tasks, &TaskService::totalPagesChanged);
    QSignalSpy resets(&program.model, &QAbstractItemModel::modelReset);
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                       QStringLiteral("other process"));
        other.setDatabaseName(path);
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN EXCLUSIVE")));
        program.tasks.loadPage(1);
        QCOMPARE(counts.count() + pages.count() + resets.count(), 0);
        QCOMPARE(program.model.rowCount(), 1);
        other.rollback();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other process"));
    program.tasks.loadPage(1);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(program.model.nameAt(0), QStringLiteral("listed"));
}

QTEST_GUILESS_MAIN(TestFaultyDatabase)
#include "tst_faultydatabase.moc"
