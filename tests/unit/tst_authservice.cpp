#include "fixture.h"
#include "passwordhash.h"
#include "testenv.h"

#include <QProcess>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>

namespace {

// Records the identity signals of an AuthService in the order they arrive.
void watchIdentity(SignalOrder &order, const AuthService &auth)
{
    order.watch(&auth, &AuthService::loggedInChanged, &AuthService::userIdChanged,
                &AuthService::userNameChanged, &AuthService::loggedOut);
}

const QStringList kLoginSignals { QStringLiteral("loggedInChanged"),
                                  QStringLiteral("userIdChanged"),
                                  QStringLiteral("userNameChanged") };

} // namespace

class TestAuthService : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsSignedOut();
    void registerValidation_data();
    void registerValidation();
    void loginMatching_data();
    void loginMatching();
    void loginSignalsAndIdentity();
    void failedLoginKeepsEarlierIdentity();
    void loginReplacesIdentityWithoutLoggedOut();
    void logoutSignalsEvenWhenSignedOut();
    void inactiveAccountIsRefused();
    void storedSaltAndHash();
    void storedKeyVerifiesWithPython();
    void noDatabase_data();
    void noDatabase();

private:
    QSqlQuery query() const { return QSqlQuery(m_db->database()); }

    std::unique_ptr<DbManager> m_db;
};

void TestAuthService::init()
{
    m_db = std::make_unique<DbManager>();
    QVERIFY(m_db->open(testEnvironment.newDatabasePath()));
    m_db->initSchema();
}

void TestAuthService::cleanup()
{
    m_db.reset();
    releaseDefaultConnection();
}

void TestAuthService::startsSignedOut()
{
    AuthService auth(m_db.get());
    QCOMPARE(auth.isLoggedIn(), false);
    QCOMPARE(auth.userId(), -1);
    QCOMPARE(auth.userName(), QString());
    QCOMPARE(auth.property("loggedIn").toBool(), false);
    QCOMPARE(auth.property("userId").toInt(), -1);
}

void TestAuthService::registerValidation_data()
{
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("fullName");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("plain account") << "ann"
                                   << "secret12"
                                   << "Ann Lee" << true;
    QTest::newRow("seven characters refused") << "ann"
                                              << "secret1"
                                              << "Ann" << false;
    QTest::newRow("eight characters accepted") << "ann"
                                               << "12345678"
                                               << "Ann" << true;
    QTest::newRow("eight blanks accepted") << "ann"
                                           << "        "
                                           << "Ann" << true;
    QTest::newRow("blank username refused") << "   "
                                            << "secret12"
                                            << "Ann" << false;
    QTest::newRow("empty username refused") << ""
                                            << "secret12"
                                            << "Ann" << false;
    QTest::newRow("blank full name refused") << "ann"
                                             << "secret12"
                                             << " \t " << false;
    QTest::newRow("short username is the page's business") << "ab"
                                                           << "secret12"
                                                           << "A" << true;
    // Four UTF-16 code units of emoji are two characters to a person but count as four here.
    QTest::newRow("counted in UTF-16 units") << "ann"
                                             << "\U0001F600\U0001F600\U0001F600\U0001F600"
                                             << "Ann" << true;
}

void TestAuthService::registerValidation()
{
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(QString, fullName);
    QFETCH(bool, accepted);

    AuthService auth(m_db.get());
    SignalOrder order;
    watchIdentity(order, auth);

    QCOMPARE(auth.registerUser(username, password, fullName), accepted);
    QVERIFY(order.order().isEmpty());
    QVERIFY(!auth.isLoggedIn());

    auto q = query();
    QVERIFY(q.exec("SELECT COUNT(*) FROM users"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), accepted ? 1 : 0);
}

void TestAuthService::loginMatching_data()
{
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("exact") << "Ann"
                           << "pass word" << true;
    QTest::newRow("wrong password") << "Ann"
                                    << "pass wor" << false;
    QTest::newRow("password is not trimmed") << "Ann"
                                             << "pass word " << false;
    QTest::newRow("username is not trimmed at sign-in") << " Ann "
                                                        << "pass word" << false;
    QTest::newRow("username is case-sensitive") << "ann"
                                                << "pass word" << false;
    QTest::newRow("unknown user") << "Bob"
                                  << "pass word" << false;
    QTest::newRow("SQL in username") << "' OR '1'='1"
                                     << "pass word" << false;
}

void TestAuthService::loginMatching()
{
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(bool, accepted);

    AuthService auth(m_db.get());
    // Registration stores the trimmed username.
    QVERIFY(auth.registerUser(QStringLiteral("  Ann  "), QStringLiteral("pass word"),
                              QStringLiteral("Ann Lee")));
    const quint64 derived = PasswordHash::derivations();
    QCOMPARE(auth.login(username, password), accepted);
    QCOMPARE(auth.isLoggedIn(), accepted);
    // A key is derived whether or not the account exists: the time taken does not tell.
    QCOMPARE(PasswordHash::derivations() - derived, quint64(1));
}

void TestAuthService::loginSignalsAndIdentity()
{
    AuthService auth(m_db.get());
    QVERIFY(auth.registerUser(QStringLiteral("ann"), QStringLiteral("password"),
                              QStringLiteral("  Ann Lee  ")));
    SignalOrder order;
    watchIdentity(order, auth);

    QVERIFY(auth.login(QStringLiteral("ann"), QStringLiteral("password")));
    QCOMPARE(order.take(), kLoginSignals);
    QVERIFY(auth.isLoggedIn());
    QCOMPARE(auth.userName(), QStringLiteral("Ann Lee"));
    auto q = query();
    QVERIFY(q.exec("SELECT id FROM users WHERE username = 'ann'"));
    QVERIFY(q.next());
    QCOMPARE(auth.userId(), q.value(0).toInt());

    // Signing in again as the same account still announces every property.
    QVERIFY(auth.login(QStringLiteral("ann"), QStringLiteral("password")));
    QCOMPARE(order.take(), kLoginSignals);
}

void TestAuthService::failedLoginKeepsEarlierIdentity()
{
    AuthService auth(m_db.get());
    QVERIFY(signUp(auth, QStringLiteral("ann"), QStringLiteral("Ann")) > 0);
    const int id = auth.userId();
    SignalOrder order;
    watchIdentity(order, auth);

    QVERIFY(!auth.login(QStringLiteral("ann"), QStringLiteral("wrong")));
    QVERIFY(order.order().isEmpty());
    QVERIFY(auth.isLoggedIn());
    QCOMPARE(auth.userId(), id);
    QCOMPARE(auth.userName(), QStringLiteral("Ann"));
}

void TestAuthService::loginReplacesIdentityWithoutLoggedOut()
{
    AuthService auth(m_db.get());
    QVERIFY(auth.registerUser(QStringLiteral("ann"), QStringLiteral("password"),
                              QStringLiteral("Ann")));
    QVERIFY(auth.registerUser(QStringLiteral("bob"), QStringLiteral("password"),
                              QStringLiteral("Bob")));
    QVERIFY(auth.login(QStringLiteral("ann"), QStringLiteral("password")));
    const int annId = auth.userId();
    SignalOrder order;
    watchIdentity(order, auth);

    QVERIFY(auth.login(QStringLiteral("bob"), QStringLiteral("password")));
    QCOMPARE(order.take(), kLoginSignals);
    QVERIFY(auth.userId() != annId);
    QCOMPARE(auth.userName(), QStringLiteral("Bob"));
}

void TestAuthService::logoutSignalsEvenWhenSignedOut()
{
    AuthService auth(m_db.get());
    QVERIFY(signUp(auth, QStringLiteral("ann"), QStringLiteral("Ann")) > 0);
    SignalOrder order;
    watchIdentity(order, auth);
    const QStringList expected = kLoginSignals + QStringList { QStringLiteral("loggedOut") };

    auth.logout();
    QCOMPARE(order.take(), expected);
    QVERIFY(!auth.isLoggedIn());
    QCOMPARE(auth.userId(), -1);
    QCOMPARE(auth.userName(), QString());

    auth.logout();
    QCOMPARE(order.take(), expected);
}

void TestAuthService::inactiveAccountIsRefused()
{
    AuthService auth(m_db.get());
    QVERIFY(auth.registerUser(QStringLiteral("ann"), QStringLiteral("password"),
                              QStringLiteral("Ann")));
    auto q = query();
    QVERIFY(q.exec("UPDATE users SET active = 0"));
    const quint64 derived = PasswordHash::derivations();
    QVERIFY(!auth.login(QStringLiteral("ann"), QStringLiteral("password")));
    QCOMPARE(PasswordHash::derivations() - derived, quint64(1));
    QVERIFY(q.exec("UPDATE users SET active = 1"));
    QVERIFY(auth.login(QStringLiteral("ann"), QStringLiteral("password")));
}

void TestAuthService::storedSaltAndHash()
{
    AuthService auth(m_db.get());
    QVERIFY(auth.registerUser(QStringLiteral("ann"), QStringLiteral("same password"),
                              QStringLiteral("Ann")));
    QVERIFY(auth.registerUser(QStringLiteral("bob"), QStringLiteral("same password"),
                              QStringLiteral("Bob")));
    // A name that differs only in surrounding blanks is taken; the first account stays as it was.
    QVERIFY(!auth.registerUser(QStringLiteral(" ann "), QStringLiteral("other password"),
                               QStringLiteral("Impostor")));
    // Letter case makes a different account.
    QVERIFY(auth.registerUser(QStringLiteral("ANN"), QStringLiteral("other password"),
                              QStringLiteral("Ann Upper")));

    auto q = query();
    QVERIFY(q.exec("SELECT username, typeof(password_hash), length(password_hash), typeof(salt), "
                   "length(salt), password_hash, salt, name, role, active FROM users ORDER BY id"));
    QList<QByteArray> hashes, salts;
    QStringList names;
    while (q.next()) {
        QCOMPARE(q.value(1).toString(), QStringLiteral("blob"));
        QCOMPARE(q.value(2).toInt(), 32);
        QCOMPARE(q.value(3).toString(), QStringLiteral("blob"));
        QCOMPARE(q.value(4).toInt(), 32);
        hashes << q.value(5).toByteArray();
        salts << q.value(6).toByteArray();
        names << q.value(7).toString();
        QCOMPARE(q.value(8).toString(), QStringLiteral("user"));
        QCOMPARE(q.value(9).toInt(), 1);
    }
    QCOMPARE(names, (QStringList { "Ann", "Bob", "Ann Upper" }));
    QVERIFY(salts[0] != salts[1]);
    QVERIFY(hashes[0] != hashes[1]);
    QVERIFY(auth.login(QStringLiteral("ann"), QStringLiteral("same password")));
    QVERIFY(!auth.login(QStringLiteral("ANN"), QStringLiteral("same password")));
}

// An independent implementation (Python's hashlib) must accept the stored key.
void TestAuthService::storedKeyVerifiesWithPython()
{
    AuthService auth(m_db.get());
    const QString password = QStringLiteral("pässwörd ☃ 12");
    QVERIFY(auth.registerUser(QStringLiteral("ann"), password, QStringLiteral("Ann")));
    const QString path = m_db->database().databaseName();

    QProcess sqlite;
    sqlite.start(
            QStringLiteral("sqlite3"),
            { path, QStringLiteral("SELECT hex(salt) || ' ' || hex(password_hash) FROM users") });
    if (!sqlite.waitForFinished(10000) || sqlite.exitCode() != 0)
        QSKIP("the sqlite3 command-line tool is not available");
    const QStringList fields =
            QString::fromLatin1(sqlite.readAllStandardOutput()).trimmed().split(' ');
    QCOMPARE(fields.size(), 2);

    QProcess python;
    python.start(QStringLiteral("python3"),
                 { QStringLiteral("-c"),
                   QStringLiteral("import hashlib,sys;"
                                  "print(hashlib.pbkdf2_hmac('sha256', sys.argv[1].encode('utf-8'),"
                                  " bytes.fromhex(sys.argv[2]), 100000, 32).hex().upper())"),
                   password, fields[0] });
    if (!python.waitForFinished(30000) || python.exitCode() != 0)
        QSKIP("python3 is not available");
    QCOMPARE(QString::fromLatin1(python.readAllStandardOutput()).trimmed(), fields[1]);
}

void TestAuthService::noDatabase_data()
{
    QTest::addColumn<bool>("withManager");
    QTest::newRow("no manager") << false;
    QTest::newRow("manager never opened") << true;
}

void TestAuthService::noDatabase()
{
    QFETCH(bool, withManager);

    DbManager closed;
    AuthService auth(withManager ? &closed : nullptr);
    QVERIFY(!auth.registerUser(QStringLiteral("ann"), QStringLiteral("password"),
                               QStringLiteral("Ann")));
    QVERIFY(!auth.login(QStringLiteral("ann"), QStringLiteral("password")));
    QSignalSpy loggedOut(&auth, &AuthService::loggedOut);
    auth.logout();
    QCOMPARE(loggedOut.count(), 1);
}

QTEST_GUILESS_MAIN(TestAuthService)
#include "tst_authservice.moc"
