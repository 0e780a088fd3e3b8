// Choosing the server and the task list to sync with: part of the sync service.
#include "syncservice.h"

#include "authservice.h"
#include "caldavdiscovery.h"
#include "passwordstore.h"

namespace {

QUrl serverAddress(const QString &text)
{
    const QString trimmed = text.trimmed();
    return QUrl::fromUserInput(trimmed.contains(QLatin1String("://"))
                                       ? trimmed
                                       : QStringLiteral("https://") + trimmed);
}

} // namespace

void SyncService::testConnection(const QString &server, const QString &user,
                                 const QString &password, bool allowInsecure)
{
    m_candidate = SyncAccount();
    m_candidate.userId = m_auth->userId();
    m_candidate.serverUrl = serverAddress(server).toString();
    m_candidate.userName = user.trimmed();
    m_candidate.insecureAllowed = allowInsecure;
    m_candidatePassword = password;
    m_taskLists.clear();
    m_otherServer.clear();
    emit taskListsChanged();
    setBusy(true);
    m_discovery->start(QUrl(m_candidate.serverUrl), m_candidate.userName, password, allowInsecure);
}

void SyncService::onDiscovered(SyncError error, int httpStatus,
                               const QList<CalDavCollection> &lists)
{
    if (!m_auth->isLoggedIn() || m_candidate.userId != m_auth->userId())
        return;
    setBusy(false);
    m_taskLists.clear();
    m_otherServer =
            error == SyncError::OtherOrigin ? m_discovery->elsewhere().toString() : QString();
    for (const CalDavCollection &list : lists) {
        const QVariantMap entry { { QStringLiteral("url"), list.url },
                                  { QStringLiteral("name"),
                                    list.name.isEmpty() ? list.url : list.name } };
        if (list.url == m_createdUrl)
            m_taskLists.prepend(entry);
        else
            m_taskLists.append(entry);
    }
    m_createdUrl.clear();
    emit taskListsChanged();
    setError(error, httpStatus);
    if (error == SyncError::None)
        m_status = lists.isEmpty() ? QStringLiteral("Connected; create a task list to sync with")
                                   : QStringLiteral("Connected; choose the task list to sync with");
    emit statusChanged();
}

void SyncService::createTaskList(const QString &name)
{
    setBusy(true);
    m_discovery->createCollection(name.trimmed().isEmpty() ? QStringLiteral("Tasks")
                                                           : name.trimmed());
}

bool SyncService::useTaskList(const QString &url)
{
    // Only a list found for this account on the server typed for it.
    if (!m_auth->isLoggedIn() || m_candidate.serverUrl.isEmpty() || url.isEmpty()
        || m_candidate.userId != m_auth->userId()
        || !CalDavClient::sameOrigin(QUrl(url), QUrl(m_candidate.serverUrl)))
        return false;
    SyncAccount account = m_candidate;
    account.collectionUrl = url;
    SyncAccount previous;
    const bool hadAccount = m_store.loadAccount(account.userId, previous);
    if (hadAccount && previous.collectionUrl == url && previous.serverUrl == account.serverUrl) {
        account.syncToken = previous.syncToken;
        account.lastSyncEpoch = previous.lastSyncEpoch;
    } else if (!m_store.forgetItems(account.userId)) {
        return false;
    }
    if (!m_store.saveAccount(account))
        return false;
    m_account = account;
    m_knownPasswords.insert(knownPasswordKey(), m_candidatePassword);
    m_passwords->write(passwordKey(), m_candidatePassword);
    setNeedsPassword(false);
    watchTaskWrites();
    emit accountChanged();
    m_periodic.start();
    m_statusClock.start();
    syncNow();
    return true;
}
