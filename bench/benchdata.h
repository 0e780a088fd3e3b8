#pragma once

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

// Copies the cached database to target, replacing what is there.
bool copyDatabase(const QString &source, const QString &target);

} // namespace BenchData
