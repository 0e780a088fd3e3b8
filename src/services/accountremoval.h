#pragma once

#include <QObject>
#include <QString>

class AuthService;
class DbManager;
class SyncService;

// Deletes the signed-in account for good: its row, its tasks and every row beside them, its sync
// setup and what the sync knew, in one transaction; then its stored sync password and its own
// settings; then it is signed out. Another account's data is not touched.
class AccountRemoval : public QObject
{
    Q_OBJECT

public:
    AccountRemoval(DbManager *db, AuthService *auth, SyncService *sync, QObject *parent = nullptr);

    // Empty when the account is gone, else why nothing was deleted.
    Q_INVOKABLE QString deleteAccount(const QString &password);

private:
    bool removeRows(qint64 userId);

    DbManager *m_db = nullptr;
    AuthService *m_auth = nullptr;
    SyncService *m_sync = nullptr;
};
