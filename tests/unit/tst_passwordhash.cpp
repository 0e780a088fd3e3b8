#include "passwordhash.h"

#include <QPasswordDigestor>
#include <QTest>

class TestPasswordHash : public QObject
{
    Q_OBJECT

private slots:
    void knownVectors_data();
    void knownVectors();
    void sameBytesAsQt_data();
    void sameBytesAsQt();
    void saltIsRandom();
};

// PBKDF2-HMAC-SHA-256 test vectors published with scrypt (RFC 7914, section 11).
void TestPasswordHash::knownVectors_data()
{
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("salt");
    QTest::addColumn<int>("iterations");
    QTest::addColumn<QByteArray>("expectedHex");

    QTest::newRow("one round") << QByteArray("passwd") << QByteArray("salt") << 1
                               << QByteArray(
                                          "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57"
                                          "c20dacbc49ca9cccf179b645991664b39d77ef317c71b845b1e30bd5"
                                          "09112041d3a19783");
    QTest::newRow("80000 rounds")
            << QByteArray("Password") << QByteArray("NaCl") << 80000
            << QByteArray("4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff088"
                          "76b34ab56a1d425a1225833549adb841b51c9b3176a272bdebba1d0"
                          "78478f62b397f33c8d");
}

void TestPasswordHash::knownVectors()
{
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, salt);
    QFETCH(int, iterations);
    QFETCH(QByteArray, expectedHex);

    QCOMPARE(PasswordHash::pbkdf2Sha256(password, salt, iterations, 64).toHex(), expectedHex);
}

void TestPasswordHash::sameBytesAsQt_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("salt");

    const QByteArray randomSalt = PasswordHash::makeSalt();
    QTest::newRow("ascii") << QStringLiteral("correct horse") << randomSalt;
    QTest::newRow("non-ascii") << QStringLiteral("Grüße, 世界 \U0001F511") << randomSalt;
    QTest::newRow("empty password") << QString() << randomSalt;
    QTest::newRow("eight blanks") << QStringLiteral("        ") << randomSalt;
    QTest::newRow("long password") << QString(5000, QLatin1Char('x')) << randomSalt;
    QTest::newRow("short salt") << QStringLiteral("password") << QByteArray("s");
    QTest::newRow("salt with zero bytes") << QStringLiteral("password") << QByteArray(32, '\0');
}

void TestPasswordHash::sameBytesAsQt()
{
    QFETCH(QString, password);
    QFETCH(QByteArray, salt);

    const QByteArray ours = PasswordHash::derive(password, salt);
    const QByteArray qt =
            QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt,
                                               PasswordHash::kIterations, PasswordHash::kKeyLength);
    QCOMPARE(ours.size(), 32);
    QCOMPARE(ours.toHex(), qt.toHex());
}

void TestPasswordHash::saltIsRandom()
{
    const QByteArray a = PasswordHash::makeSalt();
    const QByteArray b = PasswordHash::makeSalt();
    QCOMPARE(a.size(), 32);
    QCOMPARE(b.size(), 32);
    QVERIFY(a != b);
}

QTEST_GUILESS_MAIN(TestPasswordHash)
#include "tst_passwordhash.moc"
