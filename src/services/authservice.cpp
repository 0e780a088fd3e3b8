#include "authservice.h"

#include "dbmanager.h"
#include "passwordhash.h"

#include <QSqlQuery>
#include <QVariant>

namespace {

// A sign-in that finds no usable account derives a key all the same, against this salt, so that
// the time it takes does not tell whether the account exists.
const QByteArray &dummySalt()
{
    static const QByteArray salt = PasswordHash::makeSalt();
    return salt;
}

} // namespace

AuthService::AuthService(DbManager *db, QObject *parent)
    : QObject(parent)
    , m_db(db)
{
}

bool AuthService::databaseReady() const
{
    return m_db && m_db->database().isOpen();
}

bool AuthService::login(const QString &username, const QString &password)
{
    if (!databaseReady())
        return false;

    QSqlQuery query(m_db->database());
    query.prepare(QStringLiteral("SELECT id, name, password_hash, salt, active\n"
                                 "FROM users\n"
                                 "WHERE username = :u\n"
                                 "LIMIT 1"));
    query.bindValue(QStringLiteral(":u"), username);
    if (!query.exec() || !query.next() || !query.value(QStringLiteral("active")).toBool()) {
        PasswordHash::derive(password, dummySalt());
        return false;
    }

    const qint64 id = query.value(QStringLiteral("id")).toLongLong();
    const QString name = query.value(QStringLiteral("name")).toString();
    const QByteArray storedHash = query.value(QStringLiteral("password_hash")).toByteArray();
    const QByteArray salt = query.value(QStringLiteral("salt")).toByteArray();

    if (PasswordHash::derive(password, salt) != storedHash)
        return false;

    m_loggedIn = true;
    m_userId = id;
    m_userName = name;
    emit loggedInChanged();
    emit userIdChanged();
    emit userNameChanged();
    return true;
}

void AuthService::logout()
{
    m_loggedIn = false;
    m_userId = -1;
    m_userName.clear();
    emit loggedInChanged();
    emit userIdChanged();
    emit userNameChanged();
    emit loggedOut();
}

bool AuthService::registerUser(const QString &username, const QString &password,
                               const QString &fullName)
{
    if (!databaseReady())
        return false;

    const QString user = username.trimmed();
    const QString name = fullName.trimmed();
    if (user.isEmpty() || name.isEmpty())
        return false;
    if (password.size() < 8)
        return false;

    QSqlQuery exists(m_db->database());
    exists.prepare(QStringLiteral("SELECT 1 FROM users WHERE username = :u LIMIT 1"));
    exists.bindValue(QStringLiteral(":u"), user);
    if (!exists.exec() || exists.next())
        return false;

    const QByteArray salt = PasswordHash::makeSalt();
    const QByteArray hash = PasswordHash::derive(password, salt);
    if (hash.isEmpty())
        return false;

    QSqlQuery insert(m_db->database());
    insert.prepare(
            QStringLiteral("INSERT INTO users (username, password_hash, salt, name, role, active)\n"
                           "VALUES (:u, :ph, :s, :n, 'user', 1)"));
    insert.bindValue(QStringLiteral(":u"), user);
    insert.bindValue(QStringLiteral(":ph"), hash);
    insert.bindValue(QStringLiteral(":s"), salt);
    insert.bindValue(QStringLiteral(":n"), name);
    return insert.exec();
}
