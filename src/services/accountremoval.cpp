#include "accountremoval.h"

#include "authservice.h"
#include "dbmanager.h"
#include "syncservice.h"
#include "syncstore.h"

#include <QSettings>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace {

// The tables of the file with their columns; the search index, which follows the tasks table by
// itself, is not among them.
QList<std::pair<QString, QStringList>> tablesOf(const QSqlDatabase &db)
{
    QList<std::pair<QString, QStringList>> tables;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name "
                                   "NOT LIKE 'sqlite%' AND sql NOT LIKE 'CREATE VIRTUAL%'")))
        return tables;
    while (query.next())
        tables.append({ query.value(0).toString(), {} });
    for (auto &[name, columns] : tables) {
        QSqlQuery info(db);
        info.exec(QStringLiteral("PRAGMA table_info(\"%1\")").arg(name));
        while (info.next())
            columns.append(info.value(1).toString());
    }
    return tables;
}

} // namespace

AccountRemoval::AccountRemoval(DbManager *db, AuthService *auth, SyncService *sync, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_auth(auth)
    , m_sync(sync)
{
}

// Rows kept by task alone go first, while the tasks still say whose they are; then every row
// that names the account; the account's own row last. Tables added later come along by their
// columns.
bool AccountRemoval::removeRows(qint64 userId)
{
    const QSqlDatabase db = m_db->database();
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    const auto tables = tablesOf(db);
    QStringList statements;
    for (const auto &[name, columns] : tables) {
        if (columns.contains(QStringLiteral("task_id")) && !columns.contains("user_id"))
            statements.append(QStringLiteral("DELETE FROM \"%1\" WHERE task_id IN (SELECT id FROM "
                                             "tasks WHERE user_id = :uid)")
                                      .arg(name));
    }
    for (const auto &[name, columns] : tables) {
        if (columns.contains(QStringLiteral("user_id")))
            statements.append(QStringLiteral("DELETE FROM \"%1\" WHERE user_id = :uid").arg(name));
    }
    statements.append(QStringLiteral("DELETE FROM users WHERE id = :uid"));
    bool ok = true;
    for (const QString &sql : std::as_const(statements)) {
        QSqlQuery statement(db);
        statement.prepare(sql);
        statement.bindValue(QStringLiteral(":uid"), userId);
        ok = statement.exec();
        if (!ok) {
            qWarning("cannot delete the account: %s", qPrintable(statement.lastError().text()));
            break;
        }
    }
    if (ok && query.exec(QStringLiteral("COMMIT")))
        return true;
    query.exec(QStringLiteral("ROLLBACK"));
    return false;
}

QString AccountRemoval::deleteAccount(const QString &password)
{
    if (!m_auth->checkPassword(password))
        return QStringLiteral("The password is not right");
    const qint64 userId = m_auth->userId();
    SyncAccount syncAccount;
    const bool synced = SyncStore(m_db->database()).loadAccount(userId, syncAccount);
    if (!removeRows(userId))
        return QStringLiteral("The account could not be deleted: nothing was changed");
    if (synced && m_sync)
        m_sync->forgetPassword(syncAccount);
    // Nothing runs in between: the sync of the account stops before it could write again.
    m_auth->logout();
    // After the sign-out, which notes how far the reminders were checked.
    QSettings settings(QStringLiteral("Brellhaven"), QStringLiteral("TarvikQtQml"));
    settings.remove(QStringLiteral("lastReminderCheck/%1").arg(userId));
    return QString();
}
