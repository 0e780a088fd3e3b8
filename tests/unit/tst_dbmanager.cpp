#include "dbmanager.h"
#include "schema.h"
#include "testenv.h"

#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

namespace {

// A file as the release before schema versions left it: made by that release's own code (an
// account, tasks created, imported and exported, a sync account with an acknowledged task and
// an unacknowledged deletion, and a second account's task), with its indexes built at start.
const auto kUnversionedFile = QStringLiteral(TARVIK_TESTS_DIR "/unit/data/unversioned-release.db");

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every row of every table, by table name.
QMap<QString, QList<QVariantList>> contents(const QSqlDatabase &db)
{
    QMap<QString, QList<QVariantList>> tables;
    for (const QString &table : db.tables(QSql::Tables)) {
        QSqlQuery query(db);
        query.exec(QStringLiteral("SELECT * FROM \"%1\" ORDER BY rowid").arg(table));
        QList<QVariantList> &rows = tables[table];
        while (query.next()) {
            QVariantList row;
            for (int column = 0; column < query.record().count(); ++column)
                row << query.value(column);
            rows << row;
        }
    }
    return tables;
}

} // namespace

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
    void filesOfOtherReleases_data();
    void filesOfOtherReleases();
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

void TestDbManager::filesOfOtherReleases_data()
{
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<int>("versionAhead");

    QTest::newRow("unversioned, synced and imported") << QStringList() << -1;
    QTest::newRow("unversioned, never synced nor imported")
            << QStringList { "sync_accounts", "sync_items", "task_uids" } << -1;
    // Had this program made the index a newer release left out, the file would have changed.
    QTest::newRow("of a newer release") << QStringList { "idx_tasks_user_name" } << 1;
}

// A file of an earlier release is brought up to date and keeps every row; a file of a newer
// release is not changed at all, and the reason is there to tell the person.
void TestDbManager::filesOfOtherReleases()
{
    QFETCH(QStringList, dropped);
    QFETCH(int, versionAhead);

    const QString path = testEnvironment.newDatabasePath();
    QVERIFY(QFile::copy(kUnversionedFile, path));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    QMap<QString, QList<QVariantList>> before;
    {
        QSqlDatabase file = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "file");
        file.setDatabaseName(path);
        QVERIFY(file.open());
        QSqlQuery query(file);
        for (const QString &name : dropped) {
            QVERIFY(query.exec(
                    QStringLiteral("SELECT type FROM sqlite_master WHERE name = '%1'").arg(name)));
            QVERIFY(query.next());
            const QString type = query.value(0).toString();
            QVERIFY(query.exec(QStringLiteral("DROP %1 %2").arg(type, name)));
        }
        if (versionAhead > 0) {
            QVERIFY(query.exec(QStringLiteral("PRAGMA user_version = %1")
                                       .arg(Schema::latestVersion() + versionAhead)));
        }
        before = contents(file);
        QVERIFY(!before.value(QStringLiteral("tasks")).isEmpty());
        file.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("file"));
    const QByteArray bytes = fileBytes(path);

    releaseDefaultConnection();
    {
        DbManager db;
        QVERIFY(db.open(path));
        QCOMPARE(db.initTables(), versionAhead < 0);
        db.initSchema();
        db.createIndexes();
        if (versionAhead > 0) {
            // The reason names the file and both versions.
            QVERIFY(db.refusal().contains(path));
            QVERIFY(db.refusal().contains(QString::number(Schema::latestVersion())));
            QVERIFY(db.refusal().contains(QString::number(Schema::latestVersion() + versionAhead)));
        } else {
            QVERIFY(db.refusal().isEmpty());
            QCOMPARE(Schema::fileVersion(db.database()), Schema::latestVersion());
            const auto after = contents(db.database());
            for (auto table = before.cbegin(); table != before.cend(); ++table) {
                // A later step may add columns; what was there stays as it was.
                QList<QVariantList> kept = after.value(table.key());
                for (int i = 0; i < kept.size() && i < table.value().size(); ++i)
                    kept[i] = kept[i].mid(0, table.value().at(i).size());
                QCOMPARE(kept, table.value());
            }
            for (const QString &table : dropped)
                QVERIFY(after.contains(table));
        }
    }
    releaseDefaultConnection();
    if (versionAhead > 0) {
        QCOMPARE(fileBytes(path), bytes);
        QVERIFY(!QFile::exists(path + QStringLiteral("-journal")));
    }
}

QTEST_GUILESS_MAIN(TestDbManager)
#include "tst_dbmanager.moc"
