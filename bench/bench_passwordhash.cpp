// Sign-in key derivation: the program's PasswordHash against OpenSSL called directly with the
// same parameters, and against QPasswordDigestor.
#include "benchstats.h"
#include "passwordhash.h"

#include <QCoreApplication>
#include <QPasswordDigestor>

#include <openssl/evp.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = qMax(3, qEnvironmentVariableIntValue("BENCH_RUNS") ?: 15);

    const QString password = QStringLiteral("correct horse battery staple");
    const QByteArray salt = PasswordHash::makeSalt();
    const QByteArray utf8 = password.toUtf8();

    QByteArray ours;
    QByteArray direct;
    QByteArray qt;
    Samples oursTimes;
    Samples directTimes;
    Samples qtTimes;

    auto runOurs = [&] {
        oursTimes.add(timeMs([&] { ours = PasswordHash::derive(password, salt); }));
    };
    auto runDirect = [&] {
        directTimes.add(timeMs([&] {
            direct = QByteArray(PasswordHash::kKeyLength, Qt::Uninitialized);
            PKCS5_PBKDF2_HMAC(utf8.constData(), int(utf8.size()),
                              reinterpret_cast<const unsigned char *>(salt.constData()),
                              int(salt.size()), PasswordHash::kIterations, EVP_sha256(),
                              PasswordHash::kKeyLength,
                              reinterpret_cast<unsigned char *>(direct.data()));
        }));
    };
    auto runQt = [&] {
        qtTimes.add(timeMs([&] {
            qt = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, utf8, salt,
                                                    PasswordHash::kIterations,
                                                    PasswordHash::kKeyLength);
        }));
    };

    // One untimed round warms caches and the lazy initialisation of both libraries; then the
    // three take turns, each run starting with another one.
    runOurs();
    runDirect();
    runQt();
    oursTimes = {};
    directTimes = {};
    qtTimes = {};
    const std::function<void()> order[] = { runOurs, runDirect, runQt };
    for (int run = 0; run < runs; ++run) {
        for (int i = 0; i < 3; ++i)
            order[(run + i) % 3]();
    }

    QTextStream out(stdout);
    if (ours != direct || ours != qt) {
        out << "error: the three derivations disagree\n";
        return 1;
    }
    out << "### Sign-in key derivation (PBKDF2-HMAC-SHA-256, " << PasswordHash::kIterations
        << " rounds, 32-byte key), " << runs << " runs each\n\n";
    ResultTable table(out);
    table.header();
    table.row(QStringLiteral("PasswordHash::derive"), QStringLiteral("-"), oursTimes,
              QStringLiteral("PKCS5_PBKDF2_HMAC direct"), directTimes, QStringLiteral("<= 1.05x"),
              2);
    table.row(QStringLiteral("PasswordHash::derive"), QStringLiteral("-"), oursTimes,
              QStringLiteral("QPasswordDigestor::deriveKeyPbkdf2"), qtTimes,
              QStringLiteral("report"), 2);
    out << "\n";
    return 0;
}
