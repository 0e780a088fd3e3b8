#include "syncengine.h"
#include "synclog.h"

namespace {

constexpr int kMultigetBatch = 50;

QByteArray xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

} // namespace

bool SyncEngine::isTransportError(SyncError error)
{
    return error != SyncError::None && error != SyncError::ServerError;
}

SyncEngine::SyncEngine(const QSqlDatabase &db, CalDavTransport *transport, TaskStore *tasks,
                       QObject *parent)
    : QObject(parent)
    , m_store(db, tasks)
    , m_client(transport)
{
}

void SyncEngine::start(const SyncAccount &account, const QString &password)
{
    if (m_running)
        return;
    m_account = account;
    m_collection = QUrl(account.collectionUrl);
    if (!m_collection.path().endsWith(QLatin1Char('/')))
        m_collection.setPath(m_collection.path() + QLatin1Char('/'));
    m_client.setOrigin(QUrl(account.serverUrl)); // the typed server, wherever the list is
    m_client.setCredentials(account.userName, password);
    m_client.setInsecureAllowed(account.insecureAllowed);
    m_running = true;
    m_pass = 0;
    m_refused.clear();
    m_notes.clear();
    m_softError = SyncError::None;
    m_softStatus = 0;
    m_tasksWritten = false;
    m_freshStart = false;
    m_heldDeletions = 0;
    m_pending.clear();
    beginPass();
}

void SyncEngine::abort()
{
    if (!m_running)
        return;
    m_client.abortAll();
    m_running = false;
}

QUrl SyncEngine::resourceUrl(const QString &href) const
{
    return m_collection.resolved(QUrl::fromEncoded(href.toUtf8()));
}

void SyncEngine::index()
{
    m_byHref.clear();
    m_byUid.clear();
    for (int i = 0; i < m_items.size(); ++i) {
        if (!m_items.at(i).tracked)
            continue;
        m_byHref.insert(m_items.at(i).href, i);
        m_byUid.insert(m_items.at(i).uid, i);
    }
    // A task not sent yet that has a UID (from an import, or a sync with another list before)
    // is the server's task of that UID, not a second one.
    for (int i = 0; i < m_items.size(); ++i) {
        const SyncItem &item = m_items.at(i);
        if (!item.tracked && item.hasTask && !item.uid.isEmpty() && !m_byUid.contains(item.uid))
            m_byUid.insert(item.uid, i);
    }
}

void SyncEngine::beginPass()
{
    m_retry = false;
    m_items = m_store.loadItems(m_account.userId);
    index();
    listChanges();
}

void SyncEngine::listChanges()
{
    if (m_syncCollectionUnsupported)
        compareEtags();
    else
        syncCollection(m_account.syncToken);
}

void SyncEngine::syncCollection(const QString &token)
{
    const QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                            "<d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>"
                            + xmlEscaped(token)
                            + "</d:sync-token><d:sync-level>1</d:sync-level>"
                              "<d:prop><d:getetag/></d:prop></d:sync-collection>";
    m_client.report(m_collection, 0, body, [this, token](const DavReply &reply) {
        if (isTransportError(reply.error))
            return fail(reply);
        const DavMultistatus listing = parseMultistatus(reply.body, reply.url);
        if (reply.status == 207 && listing.valid) {
            m_newToken = listing.syncToken;
            return onListing(listing, !token.isEmpty());
        }
        if (!token.isEmpty()) {
            // The token expired or the collection was replaced: list everything again.
            // Nothing in the full listing that follows tells a deletion from a collection made
            // again or restored from a backup: it is matched as a fresh start.
            qCWarning(lcSync) << "sync token refused with" << reply.status;
            m_account.syncToken.clear();
            m_freshStart = true;
            return syncCollection(QString());
        }
        qCWarning(lcSync) << "sync-collection unsupported:" << reply.status;
        m_syncCollectionUnsupported = true;
        compareEtags();
    });
}

void SyncEngine::compareEtags()
{
    m_client.propfind(m_collection, 1, "<d:getetag/><d:resourcetype/>",
                      [this](const DavReply &reply) {
                          const DavMultistatus listing = parseMultistatus(reply.body, reply.url);
                          if (reply.status != 207 || !listing.valid)
                              return fail(reply);
                          m_newToken.clear();
                          onListing(listing, false);
                      });
}

void SyncEngine::onListing(const DavMultistatus &listing, bool incremental)
{
    m_toFetch.clear();
    m_removed.clear();
    m_unlisted.clear();
    m_fetched.clear();
    const QString collectionPath = hrefPath(m_collection);
    QSet<QString> listed;
    for (const DavResource &resource : listing.resources) {
        if (resource.href == collectionPath || resource.isCollection)
            continue;
        if (resource.status == 404) {
            m_removed.append(resource.href);
            continue;
        }
        listed.insert(resource.href);
        const auto found = m_byHref.constFind(resource.href);
        if (found == m_byHref.constEnd() || m_items.at(*found).etag != resource.etag
            || resource.etag.isEmpty())
            m_toFetch.append(resource.href);
    }
    // A write refused on the last pass is read back whatever the listing says.
    for (const QString &href : std::as_const(m_refused)) {
        if (!m_toFetch.contains(href))
            m_toFetch.append(href);
    }
    m_refused.clear();
    if (!incremental) {
        // A full listing names every member: what the server took but does not list is gone,
        // unless the listing is a fresh start, which uploads it again.
        for (const SyncItem &item : std::as_const(m_items)) {
            if (item.tracked && (item.synced || !item.etag.isEmpty())
                && !listed.contains(item.href))
                (m_freshStart ? m_unlisted : m_removed).append(item.href);
        }
    }
    fetchNext();
}

void SyncEngine::fetchNext()
{
    if (m_toFetch.isEmpty())
        return applyChanges();
    QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                      "<c:calendar-multiget xmlns:d=\"DAV:\" "
                      "xmlns:c=\"urn:ietf:params:xml:ns:caldav\">"
                      "<d:prop><d:getetag/><c:calendar-data/></d:prop>";
    const QStringList batch = m_toFetch.mid(0, kMultigetBatch);
    m_toFetch.remove(0, batch.size());
    for (const QString &href : batch)
        body += "<d:href>" + xmlEscaped(href) + "</d:href>";
    body += "</c:calendar-multiget>";
    m_client.report(m_collection, 1, body, [this](const DavReply &reply) {
        const DavMultistatus answer = parseMultistatus(reply.body, reply.url);
        if (reply.status != 207 || !answer.valid)
            return fail(reply);
        for (const DavResource &resource : answer.resources) {
            if (resource.status == 404)
                m_removed.append(resource.href);
            else if (!resource.calendarData.isEmpty())
                m_fetched.append(resource);
        }
        fetchNext();
    });
}

void SyncEngine::fail(const DavReply &reply)
{
    done(reply.error == SyncError::None ? SyncError::ServerError : reply.error, reply.status);
}

void SyncEngine::done(SyncError error, int status)
{
    if (!m_running)
        return;
    m_running = false;
    // An answer about deletions is for the pass it was asked for, whatever became of it.
    if (error != SyncError::ManyDeletions)
        m_deletionChoice = Deletions::Ask;
    // Success only when both sides hold every change.
    m_pending.clear();
    for (const SyncItem &item : std::as_const(m_items)) {
        if (item.hasTask && (!item.synced || item.local != item.acknowledged))
            m_pending.append(item.local.name);
    }
    if (error == SyncError::None && (m_retry || !m_pending.isEmpty()))
        error = SyncError::ServerError;
    if (m_tasksWritten)
        emit tasksChanged();
    m_tasksWritten = false;
    emit finished(error, status, m_notes);
}
