#pragma once

#include "appservices.h"
#include "authservice.h"
#include "dbmanager.h"
#include "duetasks.h"
#include "taskservice.h"
#include "taskstore.h"
#include "tasktablemodel.h"

#include <QMetaMethod>
#include <QObject>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <utility>

// The password of the accounts the tests make.
inline const QString kTestPassword = QStringLiteral("password");

// Registers the account unless it exists (the full name defaults to the username in capitals)
// and signs in to it; the user id, or -1.
inline qint64 signUp(AuthService &auth, const QString &user, const QString &fullName = QString(),
                     const QString &password = kTestPassword)
{
    auth.registerUser(user, password, fullName.isEmpty() ? user.toUpper() : fullName);
    return auth.login(user, password) ? auth.userId() : -1;
}

// The first column of the first row sql gives, with bound as its only value; null on failure.
inline QVariant scalar(const QSqlDatabase &db, const QString &sql,
                       const QVariant &bound = QVariant())
{
    QSqlQuery query(db);
    query.prepare(sql);
    if (bound.isValid())
        query.addBindValue(bound);
    if (!query.exec() || !query.next())
        return QVariant();
    return query.value(0);
}

// The database file at path. Opening is checked through opened; the schema is made either way.
struct TestDatabase
{
    explicit TestDatabase(const QString &path)
    {
        opened = db.open(path);
        db.initSchema();
    }

    QSqlQuery query() const { return QSqlQuery(db.database()); }
    QVariant scalar(const QString &sql, const QVariant &bound = QVariant()) const
    {
        return ::scalar(db.database(), sql, bound);
    }

    // Inserts count tasks named "<prefix> 1" ... directly; every task is created one second
    // after the one inserted before it, so the list order is fixed.
    bool insertTasks(qint64 userId, int count, int active = 0,
                     const QString &prefix = QStringLiteral("task"))
    {
        QSqlQuery insert(db.database());
        insert.prepare(QStringLiteral("INSERT INTO tasks (user_id, name, active, create_at) "
                                      "VALUES (?, ?, ?, datetime('2026-01-01 00:00:00', ? || ' "
                                      "seconds'))"));
        for (int i = 0; i < count; ++i) {
            insert.addBindValue(userId);
            insert.addBindValue(QStringLiteral("%1 %2").arg(prefix).arg(i + 1));
            insert.addBindValue(active);
            insert.addBindValue(inserted++);
            if (!insert.exec())
                return false;
        }
        return true;
    }

    DbManager db;
    bool opened = false;
    int inserted = 0;
};

// The task services alone on a database file, without reminders.
struct TaskServices : TestDatabase
{
    using TestDatabase::TestDatabase;

    TaskTableModel model;
    AuthService auth { &db };
    TaskStore store { &db };
    DueTasks due { &db, &auth };
    TaskService tasks { &db, &auth, &model, &store };
};

// Every service of one run of the program, wired as the program wires them.
struct ProgramServices : TestDatabase
{
    explicit ProgramServices(const QString &path)
        : TestDatabase(path)
        , services(&db, path)
    {
    }

    AppServices services;
    TaskTableModel &model = services.taskModel();
    AuthService &auth = services.auth();
    TaskService &tasks = services.tasks();
};

// Records the names of the watched signals in the order they arrive.
class SignalOrder
{
public:
    template<typename Sender, typename... Signals>
    SignalOrder &watch(const Sender *sender, Signals... signalList)
    {
        (connectOne(sender, signalList), ...);
        return *this;
    }

    const QStringList &order() const { return m_order; }
    // The names recorded so far; the record starts again empty.
    QStringList take() { return std::exchange(m_order, QStringList()); }

private:
    template<typename Sender, typename Signal> void connectOne(const Sender *sender, Signal signal)
    {
        const QString name = QString::fromLatin1(QMetaMethod::fromSignal(signal).name());
        QObject::connect(sender, signal, &m_context, [this, name] { m_order.append(name); });
    }

    QObject m_context;
    QStringList m_order;
};
