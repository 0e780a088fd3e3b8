#include "authservice.h"

#include "dbmanager.h"
#include "passwordhash.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>
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

constexpr int kTokenLength = 32;

QByteArray tokenHash(const QByteArray &token)
{
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256);
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

    signIn(id, name);
    return true;
}

void AuthService::signIn(qint64 id, const QString &name)
{
    m_loggedIn = true;
    m_userId = id;
    m_userName = name;
    emit loggedInChanged();
    emit userIdChanged();
    emit userNameChanged();
}

QByteArray AuthService::makeKeptToken()
{
    if (!databaseReady() || !m_loggedIn)
        return {};
    QByteArray token(kTokenLength, Qt::Uninitialized);
    QRandomGenerator::system()->generate(token.begin(), token.end());

    QSqlDatabase db = m_db->database();
    if (!db.transaction())
        return {};
    QSqlQuery query(db);
    bool ok = query.exec(QStringLiteral("DELETE FROM kept_signins"));
    if (ok) {
        query.prepare(QStringLiteral("INSERT INTO kept_signins (token_hash, user_id, "
                                     "created_epoch) VALUES (:h, :u, :at)"));
        query.bindValue(QStringLiteral(":h"), tokenHash(token));
        query.bindValue(QStringLiteral(":u"), m_userId);
        query.bindValue(QStringLiteral(":at"), QDateTime::currentSecsSinceEpoch());
        ok = query.exec();
    }
    if (!ok || !db.commit()) {
        db.rollback();
        return {};
    }
    return token;
}

bool AuthService::loginWithKeptToken(const QByteArray &token)
{
    if (!databaseReady() || token.size() != kTokenLength)
        return false;
    QSqlQuery query(m_db->database());
    query.prepare(QStringLiteral("SELECT u.id, u.name FROM kept_signins k\n"
                                 "JOIN users u ON u.id = k.user_id\n"
                                 "WHERE k.token_hash = :h AND u.active = 1"));
    query.bindValue(QStringLiteral(":h"), tokenHash(token));
    if (!query.exec() || !query.next())
        return false;
    signIn(query.value(0).toLongLong(), query.value(1).toString());
    return true;
}

bool AuthService::forgetKeptTokens()
{
    if (!databaseReady())
        return false;
    QSqlQuery query(m_db->database());
    return query.exec(QStringLiteral("DELETE FROM kept_signins"));
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

bool AuthService::readKey(qint64 id, QByteArray &hash, QByteArray &salt) const
{
    QSqlQuery query(m_db->database());
    query.prepare(QStringLiteral("SELECT password_hash, salt FROM users WHERE id = :id"));
    query.bindValue(QStringLiteral(":id"), id);
    if (!query.exec() || !query.next())
        return false;
    hash = query.value(0).toByteArray();
    salt = query.value(1).toByteArray();
    return true;
}

bool AuthService::checkPassword(const QString &password) const
{
    QByteArray hash;
    QByteArray salt;
    if (!m_loggedIn || !databaseReady() || !readKey(m_userId, hash, salt))
        return false;
    const QByteArray derived = PasswordHash::derive(password, salt);
    return !derived.isEmpty() && derived == hash;
}

QString AuthService::changePassword(const QString &current, const QString &newPassword,
                                    const QString &repeated)
{
    if (!checkPassword(current))
        return QStringLiteral("The current password is not right");
    if (newPassword.size() < 8)
        return QStringLiteral("The new password needs at least 8 characters");
    if (newPassword != repeated)
        return QStringLiteral("The new passwords do not match");
    const QByteArray salt = PasswordHash::makeSalt();
    const QByteArray hash = PasswordHash::derive(newPassword, salt);
    QSqlQuery update(m_db->database());
    update.prepare(
            QStringLiteral("UPDATE users SET password_hash = :ph, salt = :s WHERE id = :id"));
    update.bindValue(QStringLiteral(":ph"), hash);
    update.bindValue(QStringLiteral(":s"), salt);
    update.bindValue(QStringLiteral(":id"), m_userId);
    if (hash.isEmpty() || !update.exec() || update.numRowsAffected() != 1)
        return QStringLiteral("The password could not be changed");
    forgetKeptTokens();
    emit passwordChanged();
    return QString();
}
