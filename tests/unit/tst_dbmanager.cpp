#include "dbmanager.h"
#include "testenv.h"

#include <QSqlQuery>
#include <QTest>

class TestDbManager : public QObject
{
    Q_OBJECT

private slots:
    void unopenedHandleIsInvalid();
    void schemaIsExactlyTheTwoStatements();
    void secondOpenKeepsRows();
    void defaults_data();
    void defaults();
    void directoryPathFailsToOpen();
};

void TestDbManager::unopenedHandleIsInvalid()
{
    DbManager db;
    QVERIFY(!db.database().isValid());
    QVERIFY(!db.database().isOpen());
}

void TestDbManager::schemaIsExactlyTheTwoStatements()
{
    DbManager db;
    QVERIFY(db.open(testEnvironment.newDatabasePath()));
    db.initSchema();

    QSqlQuery query(db.database());
    QVERIFY(query.exec("SELECT name, sql FROM sqlite_master WHERE type = 'table' "
                       "AND name IN ('users', 'tasks') ORDER BY name"));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("tasks"));
    // sqlite_master keeps the statement text without IF NOT EXISTS and the trailing semicolon.
    QCOMPARE(query.value(1).toString(),
             QStringLiteral("CREATE TABLE tasks (\n"
                            "    id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                            "    user_id INTEGER NOT NULL,\n"
                            "    name TEXT,\n"
                            "    active INTEGER DEFAULT 0,\n"
                            "    expire_at TEXT,\n"
                            "    expire_at_epoch INTEGER,\n"
                            "    create_at TEXT DEFAULT CURRENT_TIMESTAMP,\n"
                            "    FOREIGN KEY (user_id) REFERENCES users(id)\n"
                            ")"));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("users"));
    QCOMPARE(query.value(1).toString(),
             QStringLiteral("CREATE TABLE users (\n"
                            "    id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
                            "    username TEXT NOT NULL UNIQUE,\n"
                            "    password_hash BLOB NOT NULL,\n"
                            "    salt BLOB NOT NULL,\n"
                            "    name TEXT NOT NULL,\n"
                            "    role TEXT NOT NULL DEFAULT 'user',\n"
                            "    active INTEGER NOT NULL DEFAULT 1,\n"
                            "    created_at TEXT DEFAULT CURRENT_TIMESTAMP\n"
                            ")"));
    QVERIFY(!query.next());
}

void TestDbManager::secondOpenKeepsRows()
{
    const QString path = testEnvironment.newDatabasePath();
    {
        DbManager db;
        QVERIFY(db.open(path));
        db.initSchema();
        QSqlQuery query(db.database());
        QVERIFY(query.exec("INSERT INTO users (username, password_hash, salt, name) "
                           "VALUES ('ann', x'00', x'01', 'Ann')"));
        QVERIFY(query.exec("INSERT INTO tasks (user_id, name) VALUES (1, 'keep me')"));
    }
    DbManager db;
    QVERIFY(db.open(path));
    db.initSchema();
    QSqlQuery query(db.database());
    QVERIFY(query.exec("SELECT (SELECT COUNT(*) FROM users), (SELECT name FROM tasks)"));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toInt(), 1);
    QCOMPARE(query.value(1).toString(), QStringLiteral("keep me"));
}

void TestDbManager::defaults_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("new task is pending") << "SELECT active FROM tasks" << QVariant(0);
    QTest::newRow("new account is enabled") << "SELECT active FROM users" << QVariant(1);
    QTest::newRow("new account has role user") << "SELECT role FROM users" << QVariant("user");
    QTest::newRow("task creation time is UTC text")
            << "SELECT create_at GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] "
               "[0-9][0-9]:[0-9][0-9]:[0-9][0-9]' FROM tasks"
            << QVariant(1);
    QTest::newRow("task of an unknown account is kept")
            << "SELECT user_id FROM tasks" << QVariant(42);
}

void TestDbManager::defaults()
{
    QFETCH(QString, sql);
    QFETCH(QVariant, expected);

    DbManager db;
    QVERIFY(db.open(testEnvironment.newDatabasePath()));
    db.initSchema();
    QSqlQuery query(db.database());
    // Foreign keys are declared but not enforced: a task may name an account that does not exist.
    QVERIFY(query.exec("INSERT INTO tasks (user_id, name) VALUES (42, 'orphan')"));
    QVERIFY(query.exec("INSERT INTO users (username, password_hash, salt, name) "
                       "VALUES ('u', x'00', x'00', 'U')"));
    QVERIFY(query.exec(sql));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), expected.toString());
}

void TestDbManager::directoryPathFailsToOpen()
{
    const QString path = testEnvironment.newDatabasePath();
    QVERIFY(QDir().mkpath(path));
    DbManager db;
    QVERIFY(!db.open(path));
    QVERIFY(!db.database().isOpen());
}

QTEST_GUILESS_MAIN(TestDbManager)
#include "tst_dbmanager.moc"
