#include "syncengine.h"
#include "icalreader.h"
#include "synclog.h"

#include <QRegularExpression>
#include <QUuid>

namespace {

constexpr int kMultigetBatch = 50;
constexpr int kMaxPasses = 3;

QByteArray xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

bool isTransportError(SyncError error)
{
    return error != SyncError::None && error != SyncError::ServerError;
}

} // namespace

SyncEngine::SyncEngine(const QSqlDatabase &db, CalDavTransport *transport, QObject *parent)
    : QObject(parent)
    , m_store(db)
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
            qCWarning(lcSync) << "sync token refused with" << reply.status;
            m_account.syncToken.clear();
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
        // A full listing names every member: what is known here but not listed is gone.
        for (const SyncItem &item : std::as_const(m_items)) {
            if (item.tracked && !item.etag.isEmpty() && !listed.contains(item.href))
                m_removed.append(item.href);
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

void SyncEngine::applyChanges()
{
    m_store.transaction();
    for (const QString &href : std::as_const(m_removed))
        applyRemoval(href);
    for (const DavResource &resource : std::as_const(m_fetched))
        applyResource(resource);
    if (!m_newToken.isEmpty() || m_syncCollectionUnsupported)
        m_account.syncToken = m_newToken;
    m_store.saveToken(m_account.userId, m_account.syncToken, QDateTime::currentSecsSinceEpoch());
    if (!m_store.commit()) {
        m_store.rollback();
        return done(SyncError::ServerError);
    }
    if (m_tasksWritten)
        emit tasksChanged();
    m_tasksWritten = false;

    m_items = m_store.loadItems(m_account.userId);
    index();
    m_pushQueue.clear();
    for (int i = 0; i < m_items.size(); ++i)
        m_pushQueue.append(i);
    pushNext();
}

void SyncEngine::applyRemoval(const QString &href)
{
    const auto found = m_byHref.constFind(href);
    if (found == m_byHref.constEnd())
        return;
    SyncItem &item = m_items[*found];
    const bool changedHere = !item.synced || item.local != item.acknowledged;
    if (!item.hasTask) {
        m_store.removeItem(item.taskId);
    } else if (!changedHere) {
        m_store.deleteTask(item.taskId);
        m_store.removeItem(item.taskId);
        m_tasksWritten = true;
    } else if (!item.etag.isEmpty()) {
        // Deleted there, changed here: the change is kept and sent again as a new resource.
        item.etag.clear();
        item.synced = false;
        m_store.saveItem(m_account.userId, item);
    }
}

void SyncEngine::applyResource(const DavResource &resource)
{
    VTodo todo = VTodoText::read(resource.calendarData);
    if (!todo.valid)
        return; // events and journals of the same calendar are not ours to touch
    // The task is read as an import reads it, with the time zones the resource defines.
    const IcalReadResult read = IcalReader::read(resource.calendarData.toUtf8());
    if (read.tasks.isEmpty())
        return;
    todo.fields = { read.tasks.first().name, read.tasks.first().done, read.tasks.first().due };
    todo.created = read.tasks.first().created;
    int index = m_byHref.value(resource.href, -1);
    if (index < 0)
        index = m_byUid.value(todo.uid, -1);

    if (index < 0) {
        SyncItem item;
        item.taskId = m_store.insertTask(m_account.userId, todo.fields, todo.created);
        if (item.taskId < 0)
            return;
        item.tracked = item.hasTask = item.synced = true;
        item.uid = todo.uid;
        item.href = resource.href;
        item.etag = resource.etag;
        item.ical = resource.calendarData;
        item.acknowledged = item.local = todo.fields;
        m_store.saveItem(m_account.userId, item);
        m_items.append(item);
        m_byHref.insert(item.href, m_items.size() - 1);
        m_byUid.insert(item.uid, m_items.size() - 1);
        m_tasksWritten = true;
        return;
    }

    SyncItem &item = m_items[index];
    const bool changedHere = !item.synced || item.local != item.acknowledged;
    const bool changedThere = item.synced && item.etag != resource.etag;
    item.href = resource.href;
    item.etag = resource.etag;
    item.ical = resource.calendarData;

    if (!item.hasTask) {
        if (changedThere) {
            // Deleted here, edited there: the edit wins and the task comes back.
            const qint64 oldId = item.taskId;
            item.taskId = m_store.insertTask(m_account.userId, todo.fields, todo.created);
            if (item.taskId < 0)
                return;
            m_store.removeItem(oldId);
            item.hasTask = true;
            item.local = todo.fields;
            m_tasksWritten = true;
        }
    } else if (changedHere && todo.fields != item.local) {
        const qint64 localTime =
                item.changedAt > 0 ? item.changedAt : QDateTime::currentSecsSinceEpoch();
        const qint64 serverTime =
                todo.lastModified.isValid() ? todo.lastModified.toSecsSinceEpoch() : 0;
        if (serverTime > localTime) {
            keepCopy(item.local, todo.fields);
            m_store.updateTask(item.taskId, todo.fields);
            item.local = todo.fields;
            m_tasksWritten = true;
        } else {
            keepCopy(todo.fields, item.local);
        }
    } else if (todo.fields != item.local) {
        m_store.updateTask(item.taskId, todo.fields);
        item.local = todo.fields;
        m_tasksWritten = true;
    }
    item.synced = true;
    item.acknowledged = todo.fields;
    m_store.saveItem(m_account.userId, item);
}

void SyncEngine::keepCopy(const TaskFields &loser, const TaskFields &winner)
{
    TaskFields copy = winner;
    copy.name = loser.name;
    copy.due = loser.due;
    if (copy.name == winner.name && copy.due == winner.due)
        return; // only the Done flag differed: nothing typed is lost
    if (m_store.insertTask(m_account.userId, loser, QDateTime()) >= 0) {
        m_notes.append(loser.name);
        m_tasksWritten = true;
    }
}

void SyncEngine::pushNext()
{
    if (!m_running)
        return;
    while (!m_pushQueue.isEmpty()) {
        const int index = m_pushQueue.takeFirst();
        SyncItem &item = m_items[index];
        const bool create =
                item.hasTask && (!item.tracked || (!item.synced && item.etag.isEmpty()));
        const bool update = item.hasTask && item.synced && item.local != item.acknowledged;
        const bool remove = item.tracked && !item.hasTask;
        if (remove && item.etag.isEmpty()) {
            m_store.removeItem(item.taskId); // it never reached the server
            continue;
        }
        if (create || update || remove)
            return pushItem(index);
    }
    if (m_retry && m_pass + 1 < kMaxPasses) {
        ++m_pass;
        return beginPass();
    }
    done(m_softError, m_softStatus);
}

void SyncEngine::pushItem(int index)
{
    SyncItem &item = m_items[index];
    const QString uid = item.uid;
    if (!item.hasTask) {
        m_client.remove(resourceUrl(item.href), item.etag, [this, uid](const DavReply &reply) {
            if (isTransportError(reply.error))
                return fail(reply);
            if (CalDavClient::isSuccess(reply.status) || reply.status == 404)
                m_store.removeItem(m_items.at(m_byUid.value(uid)).taskId);
            else if (reply.status == 412) {
                m_refused.append(m_items.at(m_byUid.value(uid)).href);
                m_retry = true;
            } else {
                m_softError = SyncError::ServerError;
                m_softStatus = reply.status;
            }
            pushNext();
        });
        return;
    }

    const QDateTime modified = item.changedAt > 0
                                       ? QDateTime::fromSecsSinceEpoch(item.changedAt, Qt::UTC)
                                       : QDateTime::currentDateTimeUtc();
    if (!item.tracked) {
        // A task imported or exported before keeps its UID; the file name is made of it when it
        // is safe in a path.
        static const QRegularExpression safe(QStringLiteral("^[A-Za-z0-9@._-]{1,200}$"));
        if (item.uid.isEmpty())
            item.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString name = safe.match(item.uid).hasMatch()
                                     ? item.uid
                                     : QUuid::createUuid().toString(QUuid::WithoutBraces);
        item.href = hrefPath(m_collection.resolved(QUrl(name + QStringLiteral(".ics"))));
        item.tracked = true;
        // Recorded before the request, so that a crash before the answer finds the resource
        // again by its UID instead of creating a second one.
        m_store.saveItem(m_account.userId, item);
        m_byUid.insert(item.uid, index);
    }
    const bool create = item.etag.isEmpty();
    QString text;
    if (item.ical.isEmpty())
        text = VTodoText::create(item.uid, item.local,
                                 item.created.isValid() ? item.created : modified, modified);
    else if (item.synced)
        text = VTodoText::update(item.ical, item.acknowledged, item.local, modified);
    else
        text = VTodoText::rewrite(item.ical, item.local, modified);
    const QByteArray sent = text.toUtf8();
    m_client.put(
            resourceUrl(item.href), sent, create ? QByteArray() : item.etag,
            [this, uid = item.uid, sent](const DavReply &reply) { onPushed(uid, reply, sent); });
}

void SyncEngine::onPushed(const QString &uid, const DavReply &reply, const QByteArray &sent)
{
    if (isTransportError(reply.error))
        return fail(reply);
    const auto found = m_byUid.constFind(uid);
    if (found == m_byUid.constEnd())
        return pushNext();
    SyncItem &item = m_items[*found];
    if (CalDavClient::isSuccess(reply.status)) {
        item.etag = reply.etag;
        item.ical = QString::fromUtf8(sent);
        item.synced = true;
        item.acknowledged = item.local;
        m_store.saveItem(m_account.userId, item);
    } else if (reply.status == 412 || reply.status == 404) {
        // Changed or deleted on the server since it was read: settled on the next pass.
        m_refused.append(item.href);
        m_retry = true;
    } else {
        qCWarning(lcSync) << "PUT refused with" << reply.status << reply.body.left(200);
        m_softError = SyncError::ServerError;
        m_softStatus = reply.status;
    }
    pushNext();
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
    if (m_tasksWritten)
        emit tasksChanged();
    m_tasksWritten = false;
    emit finished(error, status, m_notes);
}
