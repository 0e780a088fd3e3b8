#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// Every table, index and trigger of the database file, and the steps that bring a file written
// by an earlier release up to date.
//
// The tables have a version, kept in the file's PRAGMA user_version: 0 for a file of a release
// before versions (its users and tasks tables, perhaps the sync and UID tables too), and from
// then on the number of the last step applied. The steps live in schema.cpp, in order; each runs
// in a transaction of its own together with the new version number.
//
// The indexes, the search index and its triggers have no version: they hold nothing the tables
// do not, every release reads and writes a file with or without them, and on a large file they
// are built a slice at a time after the window shows (DbManager::createIndexes). They are made
// whenever they are missing, at any version. A step that changes one drops it, and the builder
// makes it again from the definition here.
namespace Schema {

// What bringing a file up to date found.
enum class Upgrade {
    Done, // the tables are at latestVersion()
    Failed, // a step failed and was undone: the file stays at the version before it
    NewerFile, // a later release wrote the file; nothing was run on it
};

// The version a file brought up to date by this program has.
int latestVersion();
// The file's version, or -1 when it cannot be read.
int fileVersion(const QSqlDatabase &db);
// Creates the users and tasks tables when missing, then applies the steps the file lacks.
// A file of a newer version than latestVersion() is left untouched.
Upgrade upgrade(const QSqlDatabase &db);

struct Index
{
    QString name;
    QString sql;
};
// The indexes of the task list, the reminder query and the search counts, in the order they
// are built.
const QList<Index> &listIndexes();
// Gives a row when the list index has the column order of an earlier release: it is dropped
// and made again.
QString earlierListIndexQuery();

// The search index of task names, the table that says how far it has been filled, the
// statement that fills one slice of tasks into it (ids above the first value, up to the
// second), and the triggers that keep it in step with the tasks table.
QString searchIndexTable();
QString searchFillTable();
QString searchFillSlice();
const QStringList &searchIndexTriggers();
// Keep task_changes; made like the indexes, on a tasks table of this program's shape only.
const QStringList &changeTriggers();

} // namespace Schema
