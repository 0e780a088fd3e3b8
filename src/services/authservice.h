#pragma once

#include <QObject>
#include <QString>

class DbManager;

// Holds the signed-in identity and is the only code that reads or writes accounts.
class AuthService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool loggedIn READ isLoggedIn NOTIFY loggedInChanged)
    Q_PROPERTY(qint64 userId READ userId NOTIFY userIdChanged)
    Q_PROPERTY(QString userName READ userName NOTIFY userNameChanged)

public:
    explicit AuthService(DbManager *db, QObject *parent = nullptr);

    bool isLoggedIn() const { return m_loggedIn; }
    qint64 userId() const { return m_userId; }
    QString userName() const { return m_userName; }

signals:
    void loggedInChanged();
    void userIdChanged();
    void userNameChanged();
    void loggedOut();
    // A new password: what a kept sign-in made under the old one no longer holds.
    void passwordChanged();

public:
    Q_INVOKABLE bool login(const QString &username, const QString &password);
    Q_INVOKABLE void logout();
    Q_INVOKABLE bool registerUser(const QString &username, const QString &password,
                                  const QString &fullName);
    // The signed-in account's password, given its current one: a new salt and key. Empty when
    // changed, else what is wrong.
    Q_INVOKABLE QString changePassword(const QString &current, const QString &newPassword,
                                       const QString &repeated);
    // Whether password is the signed-in account's.
    bool checkPassword(const QString &password) const;

    // Kept sign-ins. A token is 32 random bytes; the database holds only its SHA-256, so that a
    // copy of the file signs nobody in. This computer keeps one at a time: a new one replaces
    // every other.
    // A new token for the signed-in account; empty when nobody is signed in or it is not stored.
    QByteArray makeKeptToken();
    // Signs in the account the token was made for, as login does, while the token is kept and
    // the account active; false, changing nothing, otherwise.
    bool loginWithKeptToken(const QByteArray &token);
    // Forgets every kept token: none signs anyone in again.
    bool forgetKeptTokens();

private:
    bool databaseReady() const;
    void signIn(qint64 id, const QString &name);
    // The stored key and salt of the account id; false when it has none.
    bool readKey(qint64 id, QByteArray &hash, QByteArray &salt) const;

    DbManager *m_db = nullptr;
    bool m_loggedIn = false;
    qint64 m_userId = -1;
    QString m_userName;
};
