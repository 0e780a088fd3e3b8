#include "syncengine.h"
#include "syncdetails.h"
#include "synclog.h"

#include <QTimer>

#include <utility>

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
    , m_writer(db, &m_store)
{
    m_parser.setMaxThreadCount(1); // answers are read in the order they came
    // What the writer's thread committed is announced as the sync's writes here would be.
    connect(&m_writer, &SyncWriter::committed, this, [this](const TaskChanges &changes) {
        m_store.tasks()->announceCommitted(changes, TaskStore::Origin::Sync);
    });
}

void SyncEngine::start(const SyncAccount &account, const QString &password)
{
    if (m_running)
        return;
    if (account.collectionUrl != m_account.collectionUrl)
        m_alarmsRefused = false;
    m_account = account;
    m_collection = QUrl(account.collectionUrl);
    if (!m_collection.path().endsWith(QLatin1Char('/')))
        m_collection.setPath(m_collection.path() + QLatin1Char('/'));
    m_client.setOrigin(QUrl(account.serverUrl)); // the typed server, wherever the list is
    m_client.setCredentials(account.userName, password);
    m_client.setInsecureAllowed(account.insecureAllowed);
    m_running = true;
    m_finishing = false;
    m_writeQueue.clear();
    m_writing = false;
    m_sendHeld = false; // the push of a pass stopped is not taken up again
    m_pushQueue.clear();
    ++m_run;
    m_pass = 0;
    m_refused.clear();
    m_notes.clear();
    m_softError = SyncError::None;
    m_softStatus = 0;
    m_tasksWritten = false;
    m_freshStart = false;
    m_relists = 0;
    m_lastChange = 0;
    m_writtenHrefs.clear();
    m_heldDeletions = 0;
    m_undoHeld = false;
    m_pending.clear();
    beginPass();
}

void SyncEngine::abort()
{
    if (!m_running)
        return;
    m_client.abortAll();
    // A job stops at its next task, rolling back what it has not committed.
    m_writer.cancel();
    m_writer.wait();
    m_writeQueue.clear(); // a cancelled job's then is dropped
    m_writing = false;
    m_running = false;
    // What the server took is recorded all the same, here.
    const QList<SyncItem> acknowledged = takeAcknowledged();
    const bool began = m_store.transaction();
    for (const SyncItem &item : acknowledged)
        m_store.saveItem(m_account.userId, item);
    if (began && !m_store.commit())
        m_store.rollback();
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
    m_wroteThere = false;
    m_zones.reset();
    // With a token and every change before a point sent, a pass reads only the tasks changed
    // since and those the listing names; a full listing needs every task.
    m_scope = ItemScope();
    if (m_account.changesSent > 0 && !m_account.syncToken.isEmpty() && !m_syncCollectionUnsupported
        && m_store.changesCounted()) {
        m_scope.all = false;
        m_scope.changedAfter = m_account.changesSent;
    }
    readItems(&SyncEngine::listChanges);
}

// A listing is read on a thread of the pool, then handed to then, unless the pass ended
// meanwhile.
void SyncEngine::parse(const DavReply &reply, Parsed then)
{
    m_parser.start([this, reply, then = std::move(then), run = m_run]() {
        const DavMultistatus parsed = parseMultistatus(reply.body, reply.url);
        QMetaObject::invokeMethod(this, [this, reply, then, parsed, run]() {
            if (m_running && run == m_run)
                then(reply, parsed);
        });
    });
}

// Runs step at the next turn of the event loop, unless the pass ended meanwhile.
void SyncEngine::later(void (SyncEngine::*step)())
{
    QTimer::singleShot(0, this, [this, step, run = m_run]() {
        if (m_running && run == m_run)
            (this->*step)();
    });
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
        parse(reply, [this, token](const DavReply &reply, const DavMultistatus &listing) {
            if (reply.status == 207 && listing.valid)
                return listed(listing, token);
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
    });
}

// A new token with changes none of which concern a task that the server holds for this account
// is either another client's new tasks or a collection that lost ours: a full listing tells.
bool SyncEngine::namesNothingTracked(const DavMultistatus &listing, const QString &token)
{
    if (listing.syncToken == token)
        return false;
    for (const DavResource &resource : listing.resources) {
        if (m_byHref.contains(resource.href))
            return false;
    }
    return m_store.syncedCount(m_account.userId) > 0;
}

// The tasks a listing names are read beside those read at the start of the pass; all of them
// for a full listing (no token).
void SyncEngine::listed(const DavMultistatus &listing, const QString &token)
{
    m_listing = listing;
    m_listedToken = token;
    if (m_scope.all)
        return afterNamed();
    ItemScope named = m_scope;
    if (token.isEmpty()) {
        named.all = true;
    } else {
        for (const DavResource &resource : listing.resources)
            named.hrefs.append(resource.href);
        named.hrefs += m_refused;
        named.hrefs += QStringList(m_writtenHrefs.cbegin(), m_writtenHrefs.cend());
        if (named.hrefs.isEmpty())
            return afterNamed();
    }
    m_scope = named;
    readItems(&SyncEngine::afterNamed);
}

void SyncEngine::afterNamed()
{
    const QString token = m_listedToken;
    const DavMultistatus listing = std::exchange(m_listing, {});
    if (!token.isEmpty() && !m_freshStart && namesNothingTracked(listing, token)) {
        // A collection made again at the same address may answer an old token with what it
        // holds now and nothing about what it lost: the full listing that follows is matched
        // as a fresh start, and nothing is deleted on it.
        qCInfo(lcSync) << "the listing since the token names no task tracked here";
        m_freshStart = true;
        return syncCollection(QString());
    }
    m_newToken = listing.syncToken;
    onListing(listing, !token.isEmpty());
}

void SyncEngine::compareEtags()
{
    m_client.propfind(
            m_collection, 1, "<d:getetag/><d:resourcetype/>", [this](const DavReply &reply) {
                parse(reply, [this](const DavReply &reply, const DavMultistatus &listing) {
                    if (reply.status != 207 || !listing.valid)
                        return fail(reply);
                    listed(listing, QString());
                });
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
    // What this program wrote after the token changed since: a listing that does not name it
    // comes from a server whose tokens name content, and the resource may be gone.
    if (incremental && !m_writtenHrefs.isEmpty()) {
        QSet<QString> named(m_removed.cbegin(), m_removed.cend());
        named += QSet<QString>(m_toFetch.cbegin(), m_toFetch.cend());
        for (const QString &href : std::as_const(m_writtenHrefs)) {
            if (!listed.contains(href) && !named.contains(href) && m_byHref.contains(href))
                m_toFetch.append(href);
        }
    }
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
        parse(reply, [this](const DavReply &reply, const DavMultistatus &answer) {
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
    });
}
