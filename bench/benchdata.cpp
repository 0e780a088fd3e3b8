#include "benchdata.h"

#include "dbmanager.h"
#include "passwordhash.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QVariant>

#include <array>
#include <numeric>
#include <vector>

namespace BenchData {

namespace {

// Bump when the generated data changes, so that an old cache file is not reused.
constexpr int kDataVersion = 2;

const char *const kVerbs[] = { "Call", "Email", "Review",   "Prepare", "Buy",    "Fix",     "Plan",
                               "Book", "Pay",   "Send",     "Update",  "Clean",  "Check",   "Write",
                               "Read", "Renew", "Schedule", "Cancel",  "Finish", "Organise" };

const char *const kObjects[] = { "the quarterly report",
                                 "dentist appointment",
                                 "car insurance",
                                 "team meeting notes",
                                 "birthday present for Mia",
                                 "kitchen tap",
                                 "flight to Lisbon",
                                 "electricity bill",
                                 "project proposal",
                                 "garden hedge",
                                 "library books",
                                 "tax return",
                                 "passport photos",
                                 "weekly groceries",
                                 "slides for Friday",
                                 "expense report",
                                 "backup drive",
                                 "bike tyre",
                                 "newsletter draft",
                                 "gym membership",
                                 "Café order for the offsite",
                                 "Übersicht for the board",
                                 "school trip form",
                                 "server certificates",
                                 "holiday photos",
                                 "landlord about the heating",
                                 "vet for Bruno",
                                 "budget spreadsheet",
                                 "recycling bins",
                                 "conference tickets" };

const char *const kSuffixes[] = { "",          "",       "",          "",     " before Monday",
                                  " (urgent)", " again", " with Sam", " #%1", " for %1" };

QString taskName(QRandomGenerator &random)
{
    QString name = QString::fromUtf8(kVerbs[random.bounded(int(std::size(kVerbs)))])
                   + QLatin1Char(' ')
                   + QString::fromUtf8(kObjects[random.bounded(int(std::size(kObjects)))]);
    QString suffix = QString::fromUtf8(kSuffixes[random.bounded(int(std::size(kSuffixes)))]);
    if (suffix.contains(QLatin1String("%1")))
        suffix = suffix.arg(random.bounded(1, 1000));
    return name + suffix;
}

// The CREATE TABLE statements of the current version, taken from a database it made.
QStringList tableStatements()
{
    QStringList statements;
    QTemporaryDir dir;
    {
        DbManager template_;
        if (!template_.open(dir.filePath(QStringLiteral("template.db"))))
            return statements;
        template_.initSchema();
        QSqlQuery query(template_.database());
        if (query.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE type = 'table' AND "
                                      "name IN ('users', 'tasks') ORDER BY name DESC"))) {
            while (query.next())
                statements << query.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    return statements;
}

// counts holds the tasks of accounts 1 to kAccounts; empty means tasksPerAccount for each,
// the accounts taking turns in a random order. Otherwise the rows of all accounts come in one
// random order.
bool generate(const QString &path, int tasksPerAccount, const QList<int> &counts = {})
{
    const QStringList tables = tableStatements();
    if (tables.size() != 2)
        return false;

    const QString connection = QStringLiteral("bench-generator");
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            ok = query.exec(tables.at(0)) && query.exec(tables.at(1)) && db.transaction();

            QSqlQuery users(db);
            users.prepare(QStringLiteral("INSERT INTO users (username, password_hash, salt, name, "
                                         "role, active) VALUES (?, ?, ?, ?, 'user', 1)"));
            QStringList usernames;
            for (int number = 1; number <= kAccounts; ++number)
                usernames << account(number);
            usernames << emptyAccount();
            for (const QString &username : usernames) {
                const QByteArray salt = PasswordHash::makeSalt();
                users.addBindValue(username);
                users.addBindValue(PasswordHash::derive(password(), salt));
                users.addBindValue(salt);
                users.addBindValue(QStringLiteral("Bench ") + username);
                ok = ok && users.exec();
            }

            // Tasks arrive in creation order, the accounts taking turns in a random order, so
            // each account's rows are spread over the whole file as they would be after a year
            // of shared use. Due times spread over a year around now, a third of them Done.
            QRandomGenerator random(20240601u + quint32(tasksPerAccount));
            const qint64 now = QDateTime::currentSecsSinceEpoch();
            const qint64 total = qint64(tasksPerAccount) * kAccounts;
            const qint64 createStart = now - 365 * 86400;
            std::array<int, kAccounts> turn;
            std::iota(turn.begin(), turn.end(), 1);

            QSqlQuery tasks(db);
            tasks.prepare(QStringLiteral("INSERT INTO tasks (user_id, name, active, expire_at, "
                                         "expire_at_epoch, create_at) VALUES (?, ?, ?, ?, ?, ?)"));
            std::vector<int> owners;
            if (counts.isEmpty()) {
                owners.reserve(size_t(total));
                for (int round = 0; round < tasksPerAccount; ++round) {
                    std::shuffle(turn.begin(), turn.end(), random);
                    owners.insert(owners.end(), turn.begin(), turn.end());
                }
            } else {
                for (int number = 1; number <= counts.size(); ++number)
                    owners.insert(owners.end(), size_t(counts.at(number - 1)), number);
                std::shuffle(owners.begin(), owners.end(), random);
            }
            const double step = 365.0 * 86400.0 / double(owners.size());
            qint64 index = 0;
            for (int userId : owners) {
                if (!ok)
                    break;
                const qint64 due = now - 182 * 86400 + random.bounded(365 * 86400);
                const QDateTime dueTime = QDateTime::fromSecsSinceEpoch(due, QTimeZone::utc());
                const QDateTime created = QDateTime::fromSecsSinceEpoch(
                        createStart + qint64(double(index) * step), QTimeZone::utc());
                tasks.addBindValue(userId);
                tasks.addBindValue(taskName(random));
                tasks.addBindValue(random.bounded(3) == 0 ? 1 : 0);
                tasks.addBindValue(dueTime.toString(Qt::ISODateWithMs));
                tasks.addBindValue(due);
                tasks.addBindValue(created.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
                ok = ok && tasks.exec();
                ++index;
            }
            ok = ok && db.commit();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

} // namespace

QString password()
{
    return QStringLiteral("bench-password");
}

QString account(int number)
{
    return QStringLiteral("bench%1").arg(number);
}

QString emptyAccount()
{
    return QStringLiteral("bench-empty");
}

QString cachedDatabase(const QString &cacheDir, int tasksPerAccount)
{
    QDir().mkpath(cacheDir);
    const QString path = QDir(cacheDir).filePath(QStringLiteral("tasks-v%1-%2x%3.db")
                                                         .arg(kDataVersion)
                                                         .arg(kAccounts)
                                                         .arg(tasksPerAccount));
    if (QFile::exists(path))
        return path;
    const QString partial = path + QStringLiteral(".partial");
    QFile::remove(partial);
    if (!generate(partial, tasksPerAccount) || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        return {};
    }
    return path;
}

QString cachedSoloDatabase(const QString &cacheDir, int measuredTasks)
{
    QDir().mkpath(cacheDir);
    const QString path = QDir(cacheDir).filePath(
            QStringLiteral("tasks-v%1-solo-%2.db").arg(kDataVersion).arg(measuredTasks));
    if (QFile::exists(path))
        return path;
    QList<int> counts;
    for (int number = 1; number <= kAccounts; ++number)
        counts << (account(number) == measuredAccount() ? measuredTasks : measuredTasks / 90);
    const QString partial = path + QStringLiteral(".partial");
    QFile::remove(partial);
    if (!generate(partial, 0, counts) || !QFile::rename(partial, path)) {
        QFile::remove(partial);
        return {};
    }
    return path;
}

bool copyDatabase(const QString &source, const QString &target)
{
    QFile::remove(target);
    for (const QString &suffix : { QStringLiteral("-journal"), QStringLiteral("-wal") })
        QFile::remove(target + suffix);
    return QFile::copy(source, target)
           && QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
}

Options Options::fromEnvironment()
{
    Options options;
    options.runs = qMax(3, qEnvironmentVariableIntValue("BENCH_RUNS") ?: 15);
    options.cacheDir =
            qEnvironmentVariableIsSet("BENCH_CACHE_DIR")
                    ? qEnvironmentVariable("BENCH_CACHE_DIR")
                    : QCoreApplication::applicationDirPath() + QStringLiteral("/bench-data");
    for (const QString &size :
         qEnvironmentVariable("BENCH_SIZES", QStringLiteral("1000,10000,100000"))
                 .split(QLatin1Char(','), Qt::SkipEmptyParts))
        options.sizes << size.toInt();
    return options;
}

QProcessEnvironment programEnvironment(const QString &root)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name :
         { "HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR" }) {
        const QString dir = QDir(root).filePath(QString::fromLatin1(name));
        QDir().mkpath(dir);
        environment.insert(QString::fromLatin1(name), dir);
    }
    QFile::setPermissions(environment.value(QStringLiteral("XDG_RUNTIME_DIR")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return environment;
}

} // namespace BenchData
