#include "syncservice.h"
#include "authservice.h"
#include "caldavdiscovery.h"
#include "dbmanager.h"
#include "passwordstore.h"
#include "syncengine.h"
#include "syncstatustext.h"

#include <QDateTime>
#include <QSqlDriver>

#include <algorithm>

namespace {

constexpr int kAfterChangeMs = 5000;
constexpr int kPeriodicMs = 5 * 60 * 1000;

} // namespace

SyncService::SyncService(DbManager *db, AuthService *auth, TaskStore *tasks, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_auth(auth)
    , m_store(db->database(), tasks)
    , m_engine(new SyncEngine(db->database(), &m_transport, tasks, this))
    , m_discovery(new CalDavDiscovery(&m_transport, this))
    , m_passwords(new PasswordStore(this))
{
    m_afterChange.setSingleShot(true);
    m_afterChange.setInterval(kAfterChangeMs);
    m_periodic.setInterval(kPeriodicMs);
    m_statusClock.setInterval(30000);
    m_flush.setSingleShot(true);
    m_flush.setInterval(0);
    connect(&m_afterChange, &QTimer::timeout, this, &SyncService::syncNow);
    connect(&m_periodic, &QTimer::timeout, this, &SyncService::syncNow);
    connect(&m_statusClock, &QTimer::timeout, this, &SyncService::updateStatus);
    connect(&m_flush, &QTimer::timeout, this, &SyncService::flushLocalChanges);
    connect(m_engine, &SyncEngine::finished, this, &SyncService::onFinished);
    connect(m_engine, &SyncEngine::tasksChanged, this, &SyncService::tasksChanged);
    connect(m_discovery, &CalDavDiscovery::finished, this, &SyncService::onDiscovered);
    connect(m_discovery, &CalDavDiscovery::collectionCreated, this,
            [this](SyncError error, int httpStatus, const QString &url) {
                setError(error, httpStatus);
                // The lists are read again, the new one offered first.
                m_createdUrl = url;
                if (error == SyncError::None)
                    m_discovery->start(QUrl(m_candidate.serverUrl), m_candidate.userName,
                                       m_candidatePassword, m_candidate.insecureAllowed);
                else
                    setBusy(false);
            });
    connect(m_passwords, &PasswordStore::passwordRead, this, &SyncService::onPasswordRead);
    connect(m_auth, &AuthService::loggedInChanged, this, &SyncService::onSignInChanged);
}

// Every write to the tasks table, or to a task's details (whose row is the task's id), through
// this connection, whoever makes it, is a change to send. SQLite reports them after the
// statement, so the sync's own writes come back too: the engine names those. Only an account that
// syncs listens, so that nobody else pays for the reports.
void SyncService::watchTaskWrites()
{
    QSqlDriver *driver = m_db->database().driver();
    if (!driver)
        return;
    const QString table = QStringLiteral("tasks");
    const QString details = QStringLiteral("task_details");
    const bool watching = driver->subscribedToNotifications().contains(table);
    const bool wanted = configured() && m_auth->isLoggedIn();
    if (wanted && !watching && driver->subscribeToNotification(table)) {
        driver->subscribeToNotification(details);
        connect(driver, &QSqlDriver::notification, this,
                [this](const QString &name, QSqlDriver::NotificationSource, const QVariant &rowId) {
                    if (name == QLatin1String("tasks") || name == QLatin1String("task_details"))
                        onTaskWritten(rowId.toLongLong());
                });
    } else if (!wanted && watching) {
        driver->unsubscribeFromNotification(table);
        driver->unsubscribeFromNotification(details);
        disconnect(driver, &QSqlDriver::notification, this, nullptr);
    }
}

// The engine and the search go before the transport they send through.
SyncService::~SyncService()
{
    delete m_engine;
    delete m_discovery;
}

void SyncService::setIntervals(int afterChangeMs, int periodicMs)
{
    m_afterChange.setInterval(afterChangeMs);
    m_periodic.setInterval(periodicMs);
}

QString SyncService::passwordKey() const
{
    return m_account.userName + QLatin1Char('@') + m_account.serverUrl;
}

void SyncService::forgetPassword(const SyncAccount &account)
{
    const QString key = account.userName + QLatin1Char('@') + account.serverUrl;
    m_knownPasswords.remove(QString::number(account.userId) + QLatin1Char(' ') + key);
    m_passwords->remove(key);
}

QString SyncService::knownPasswordKey() const
{
    return QString::number(m_account.userId) + QLatin1Char(' ') + passwordKey();
}

// What "Test connection" found and what was typed for it, with its search cancelled.
void SyncService::forgetSetup()
{
    m_discovery->abort();
    m_candidate = SyncAccount();
    m_candidatePassword.clear();
    m_createdUrl.clear();
    m_otherServer.clear();
    m_taskLists.clear();
}

void SyncService::onSignInChanged()
{
    m_engine->abort();
    forgetSetup();
    m_passwordReadFor = -1;
    m_afterChange.stop();
    m_periodic.stop();
    m_statusClock.stop();
    m_account = SyncAccount();
    m_notes.clear();
    m_error = SyncError::None;
    setBusy(false);
    setNeedsPassword(false);
    if (m_auth->isLoggedIn() && m_store.loadAccount(m_auth->userId(), m_account) && configured()) {
        m_periodic.start();
        m_statusClock.start();
        syncNow();
    }
    watchTaskWrites();
    emit accountChanged();
    emit taskListsChanged();
    updateStatus();
}

void SyncService::syncNow()
{
    if (!configured() || !m_auth->isLoggedIn())
        return;
    if (m_engine->isRunning()) {
        m_again = true;
        return;
    }
    const auto known = m_knownPasswords.constFind(knownPasswordKey());
    if (known == m_knownPasswords.constEnd()) {
        if (!m_needsPassword && !m_busy) {
            setBusy(true);
            m_passwordReadFor = m_account.userId;
            m_passwords->read(passwordKey());
        }
        return;
    }
    m_afterChange.stop();
    m_store.loadAccount(m_account.userId, m_account);
    setBusy(true);
    m_engine->start(m_account, *known);
}

void SyncService::onPasswordRead(const QString &key, const QString &password, bool found)
{
    // An answer for an account signed out since is dropped.
    if (key != passwordKey() || m_passwordReadFor != m_account.userId || !m_auth->isLoggedIn())
        return;
    m_passwordReadFor = -1;
    setBusy(false);
    if (found) {
        m_knownPasswords.insert(knownPasswordKey(), password);
        syncNow();
    } else {
        setNeedsPassword(true);
    }
}

void SyncService::providePassword(const QString &password)
{
    if (!configured() || password.isEmpty())
        return;
    m_knownPasswords.insert(knownPasswordKey(), password);
    m_passwords->write(passwordKey(), password);
    setNeedsPassword(false);
    syncNow();
}

void SyncService::setReminderLead(int minutes)
{
    m_engine->setAlarmLead(minutes);
}

void SyncService::onFinished(SyncError error, int httpStatus, const QStringList &notes)
{
    setBusy(false);
    m_notes = notes;
    m_store.loadAccount(m_account.userId, m_account);
    // A pass that changed nothing may not have written its time down.
    m_account.lastSyncEpoch = std::max(m_account.lastSyncEpoch, m_engine->lastSyncEpoch());
    if (error == SyncError::WrongPassword) {
        m_knownPasswords.remove(knownPasswordKey());
        setNeedsPassword(true);
    }
    setError(error, httpStatus);
    if (m_again || !m_changedTasks.isEmpty()) {
        m_again = false;
        if (error == SyncError::None)
            m_afterChange.start();
    }
}

void SyncService::onTaskWritten(qint64 taskId)
{
    if (!configured() || m_engine->takeOwnWrite(taskId))
        return;
    m_changedTasks.insert(taskId);
    m_flush.start();
}

void SyncService::flushLocalChanges()
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (const qint64 taskId : std::as_const(m_changedTasks))
        m_store.noteLocalChange(taskId, now);
    m_changedTasks.clear();
    // Coalesced: a burst of changes is sent once, a few seconds after the first of them.
    if (!m_afterChange.isActive())
        m_afterChange.start();
}

void SyncService::stopSyncing()
{
    if (!configured())
        return;
    m_engine->abort();
    m_passwords->remove(passwordKey());
    m_knownPasswords.remove(knownPasswordKey());
    m_store.forgetItems(m_account.userId);
    m_store.removeAccount(m_account.userId);
    m_account = SyncAccount();
    m_periodic.stop();
    m_afterChange.stop();
    setBusy(false);
    setNeedsPassword(false);
    m_error = SyncError::None;
    watchTaskWrites();
    emit accountChanged();
    updateStatus();
}

int SyncService::deletionsToConfirm() const
{
    return m_error == SyncError::ManyDeletions ? m_engine->heldDeletions() : 0;
}

void SyncService::confirmDeletions(bool deleteThem)
{
    if (m_error != SyncError::ManyDeletions)
        return;
    m_engine->decideDeletions(deleteThem ? SyncEngine::Deletions::Delete
                                         : SyncEngine::Deletions::Keep);
    syncNow();
}

void SyncService::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit busyChanged();
}

void SyncService::setNeedsPassword(bool needed)
{
    if (m_needsPassword == needed)
        return;
    m_needsPassword = needed;
    emit needsPasswordChanged();
    updateStatus();
}

void SyncService::setError(SyncError error, int httpStatus)
{
    m_error = error;
    m_httpStatus = httpStatus;
    updateStatus();
}

void SyncService::updateStatus()
{
    QString status;
    if (m_error == SyncError::ManyDeletions)
        status = SyncStatusText::heldDeletions(m_engine->heldDeletions());
    else if (m_error != SyncError::None && !m_engine->pending().isEmpty())
        status = SyncStatusText::pending(m_engine->pending());
    else if (m_error != SyncError::None)
        status = SyncStatusText::error(m_error, m_httpStatus, m_otherServer);
    else if (m_needsPassword)
        status = QStringLiteral("Enter the password to sync");
    else if (!configured())
        status = QString();
    else if (m_account.lastSyncEpoch <= 0)
        status = QStringLiteral("Not synced yet");
    else
        status = SyncStatusText::synced(QDateTime::currentSecsSinceEpoch()
                                        - m_account.lastSyncEpoch);
    if (m_error == SyncError::None && m_engine->alarmsRefused())
        status += QStringLiteral("; the server refuses reminders: tasks sent without them");
    if (m_error == SyncError::None && !m_notes.isEmpty())
        status += QStringLiteral("; edited on both sides, kept as separate tasks: ")
                  + m_notes.join(QStringLiteral(", "));
    if (status == m_status)
        return;
    m_status = status;
    emit statusChanged();
}
