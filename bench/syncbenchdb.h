#pragma once

#include "schema.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

// The database files of the sync benchmarks: the current version, account 1 ("sam") and its
// tasks, a third of them Done and every second one due at a time of its own.
namespace SyncBenchDb {

inline QSqlDatabase make(const QString &path, int tasks)
{
    QFile::remove(path);
    const QString name = QStringLiteral("bench-") + QFileInfo(path).fileName();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.open();
    Schema::upgrade(db);
    QSqlQuery query(db);
    for (const QString &trigger : Schema::changeTriggers())
        query.exec(trigger);
    query.exec(QStringLiteral("INSERT INTO users (id, username, password_hash, salt, name) "
                              "VALUES (1, 'sam', x'00', x'00', 'Sam')"));
    db.transaction();
    query.prepare(QStringLiteral("INSERT INTO tasks (user_id, name, active, expire_at_epoch) "
                                 "VALUES (1, ?, ?, ?)"));
    for (int i = 0; i < tasks; ++i) {
        query.addBindValue(QStringLiteral("Task number %1 of the list").arg(i));
        query.addBindValue(i % 3 == 0 ? 1 : 0);
        query.addBindValue(i % 2 ? QVariant(1800000000 + i * 600) : QVariant());
        query.exec();
    }
    db.commit();
    return db;
}

inline void close(QSqlDatabase &db)
{
    const QString name = db.connectionName();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}

} // namespace SyncBenchDb
