#pragma once

#include "caldavclient.h"
#include "caldavdiscovery.h"
#include "networktransport.h"
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
// Everything belongs to the account signed in when it started: signing out cancels the search,
// the sync and the password asked for, and forgets what was typed.
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
    Q_PROPERTY(QString otherServer READ otherServer NOTIFY statusChanged)
    Q_PROPERTY(bool failed READ failed NOTIFY statusChanged)
    Q_PROPERTY(int deletionsToConfirm READ deletionsToConfirm NOTIFY statusChanged)

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
    // The address the server pointed to on another origin, for the person to confirm.
    QString otherServer() const { return m_otherServer; }
    bool failed() const { return m_error != SyncError::None; }
    // How many deletions from the server wait for the person's answer.
    int deletionsToConfirm() const;

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
    // The answer to the deletions held back: false keeps the tasks and uploads them again.
    Q_INVOKABLE void confirmDeletions(bool deleteThem);

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
    QString knownPasswordKey() const;
    void forgetSetup();

    DbManager *m_db = nullptr;
    AuthService *m_auth = nullptr;
    QNetworkAccessManager m_network;
    NetworkTransport m_transport { &m_network };
    SyncStore m_store;
    SyncEngine *m_engine = nullptr;
    CalDavDiscovery *m_discovery = nullptr;
    PasswordStore *m_passwords = nullptr;
    SyncAccount m_account;
    SyncAccount m_candidate; // what "Test connection" found, until a task list is chosen
    QString m_candidatePassword;
    QString m_createdUrl; // the list just made with MKCALENDAR
    QString m_otherServer;
    qint64 m_passwordReadFor = -1; // the account whose stored password is being read
    // This run's passwords, by knownPasswordKey(): each account's own.
    QHash<QString, QString> m_knownPasswords;
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
