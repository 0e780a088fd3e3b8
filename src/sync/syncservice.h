#pragma once

#include "caldavclient.h"
#include "caldavdiscovery.h"
#include "syncstore.h"

#include <QHash>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <QVariantList>

class AuthService;
class DbManager;
class PasswordStore;
class SyncEngine;
class TaskStore;

// The signed-in account's sync with a CalDAV server, as the settings dialog shows it: setting
// it up (discovery, choosing or creating the task list), the password, when to sync (at
// sign-in, every few minutes, a few seconds after a change here) and the status line.
class SyncService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool configured READ configured NOTIFY accountChanged)
    Q_PROPERTY(QString serverUrl READ serverUrl NOTIFY accountChanged)
    Q_PROPERTY(QString userName READ userName NOTIFY accountChanged)
    Q_PROPERTY(QString taskListUrl READ taskListUrl NOTIFY accountChanged)
    Q_PROPERTY(QVariantList taskLists READ taskLists NOTIFY taskListsChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(bool needsPassword READ needsPassword NOTIFY needsPasswordChanged)
    Q_PROPERTY(bool needsInsecureConsent READ needsInsecureConsent NOTIFY statusChanged)

public:
    // Writes the tasks from the server through tasks.
    explicit SyncService(DbManager *db, AuthService *auth, TaskStore *tasks = nullptr,
                         QObject *parent = nullptr);
    ~SyncService() override;

    bool configured() const { return !m_account.collectionUrl.isEmpty(); }
    QString serverUrl() const { return m_account.serverUrl; }
    QString userName() const { return m_account.userName; }
    QString taskListUrl() const { return m_account.collectionUrl; }
    QVariantList taskLists() const { return m_taskLists; }
    bool busy() const { return m_busy; }
    QString status() const { return m_status; }
    bool needsPassword() const { return m_needsPassword; }
    bool needsInsecureConsent() const { return m_error == SyncError::InsecureRefused; }

    // How long after a change here the sync starts, and how often it runs anyway.
    void setIntervals(int afterChangeMs, int periodicMs);

signals:
    void accountChanged();
    void taskListsChanged();
    void busyChanged();
    void statusChanged();
    void needsPasswordChanged();
    // Tasks were written from the server's side.
    void tasksChanged();

public:
    Q_INVOKABLE void testConnection(const QString &server, const QString &user,
                                    const QString &password, bool allowInsecure);
    Q_INVOKABLE void createTaskList(const QString &name);
    Q_INVOKABLE bool useTaskList(const QString &url);
    Q_INVOKABLE void providePassword(const QString &password);
    Q_INVOKABLE void syncNow();
    Q_INVOKABLE void stopSyncing();

private:
    void onSignInChanged();
    void onPasswordRead(const QString &key, const QString &password, bool found);
    void onDiscovered(SyncError error, int httpStatus, const QList<CalDavCollection> &lists);
    void onFinished(SyncError error, int httpStatus, const QStringList &notes);
    void watchTaskWrites();
    void onTaskWritten(qint64 taskId);
    void flushLocalChanges();
    void setBusy(bool busy);
    void setNeedsPassword(bool needed);
    void setError(SyncError error, int httpStatus);
    void updateStatus();
    QString passwordKey() const;

    DbManager *m_db = nullptr;
    AuthService *m_auth = nullptr;
    QNetworkAccessManager m_network;
    SyncStore m_store;
    SyncEngine *m_engine = nullptr;
    CalDavDiscovery *m_discovery = nullptr;
    PasswordStore *m_passwords = nullptr;
    SyncAccount m_account;
    SyncAccount m_candidate; // what "Test connection" found, until a task list is chosen
    QString m_candidatePassword;
    QString m_createdUrl; // the list just made with MKCALENDAR
    QHash<QString, QString> m_knownPasswords; // this run's passwords, by passwordKey()
    QVariantList m_taskLists;
    QSet<qint64> m_changedTasks;
    QTimer m_afterChange;
    QTimer m_periodic;
    QTimer m_statusClock;
    QTimer m_flush;
    bool m_busy = false;
    bool m_again = false;
    bool m_needsPassword = false;
    SyncError m_error = SyncError::None;
    int m_httpStatus = 0;
    QStringList m_notes;
    QString m_status;
};
