#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QString>

// The benchmark database: ten accounts with the same number of tasks each, interleaved in time
// as if several people had used the program over a year, plus one account without tasks.
namespace BenchData {

constexpr int kAccounts = 10;

// Every benchmark account signs in with this password.
QString password();
// Username of account 1 to kAccounts.
QString account(int number);
// Username of the account without tasks.
QString emptyAccount();
// The account whose figures are measured.
inline QString measuredAccount()
{
    return account(3);
}

// The path of a database with tasksPerAccount tasks for each account, as a file of the
// current version would hold them before the program first opens it (tables only). Generated
// once into cacheDir and reused afterwards; an empty string when generation fails.
QString cachedDatabase(const QString &cacheDir, int tasksPerAccount);

// The same for a file where the measured account alone holds measuredTasks tasks and the other
// accounts hold a ninetieth of that each, all in one random order over the year.
QString cachedSoloDatabase(const QString &cacheDir, int measuredTasks);

// Copies the cached database to target, replacing what is there.
bool copyDatabase(const QString &source, const QString &target);

// The environment for running the program as a returning user with its own home under root:
// private HOME and XDG directories, no display server (the offscreen platform).
QProcessEnvironment programEnvironment(const QString &root);

// What a run measures, from the environment: BENCH_RUNS (at least 3, default 15), BENCH_SIZES
// (tasks per account, default "1000,10000,100000") and BENCH_CACHE_DIR (default: bench-data
// next to the executable).
struct Options
{
    int runs = 15;
    QList<int> sizes;
    QString cacheDir;

    static Options fromEnvironment();
};

} // namespace BenchData
