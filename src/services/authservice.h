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

private:
    bool databaseReady() const;
    // The stored key and salt of the account id; false when it has none.
    bool readKey(qint64 id, QByteArray &hash, QByteArray &salt) const;

    DbManager *m_db = nullptr;
    bool m_loggedIn = false;
    qint64 m_userId = -1;
    QString m_userName;
};
