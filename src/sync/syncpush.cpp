#include "icalwriter.h"
#include "syncengine.h"
#include "synclog.h"

#include <QRegularExpression>
#include <QUuid>

namespace {

constexpr int kMaxPasses = 3;

} // namespace

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
        // Sent whenever the task has an address there, with If-Match when its ETag is known: a
        // create whose answer was lost, or a server that gave no ETag, still has the task.
        m_client.remove(resourceUrl(item.href), item.etag, [this, uid](const DavReply &reply) {
            if (isTransportError(reply.error))
                return fail(reply);
            if (CalDavClient::isSuccess(reply.status) || reply.status == 404)
                m_store.removeItem(m_items.at(m_byUid.value(uid)).taskId);
            else if (reply.status == 412) {
                m_refused.append(m_items.at(m_byUid.value(uid)).href);
                m_retry = true;
                m_softStatus = reply.status;
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
    // A task the server took without giving an ETag is changed only once its ETag is read.
    const bool create = item.etag.isEmpty();
    IcalTask task;
    task.uid = item.uid;
    task.setFields(item.local);
    task.created = item.created.isValid() ? item.created : modified;
    task.calendar = item.ical.toUtf8();
    if (item.taskId > 0)
        task.repeat = m_store.repeatOf(m_account.userId, item.taskId);
    const QByteArray sent = IcalWriter::writeTask(task, modified);
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
        if (!m_store.saveItem(m_account.userId, item))
            m_softError = SyncError::LocalWriteFailed;
        if (item.etag.isEmpty())
            return readEtag(uid);
    } else if (reply.status == 412 || reply.status == 404) {
        // Changed or deleted on the server since it was read: fetched, merged and written again
        // on the next pass.
        m_refused.append(item.href);
        m_retry = true;
        m_softStatus = reply.status;
    } else {
        qCWarning(lcSync) << "PUT refused with" << reply.status << reply.body.left(200);
        m_softError = SyncError::ServerError;
        m_softStatus = reply.status;
    }
    pushNext();
}

// The server took the task without naming its ETag (RFC 4791 allows it): it is read, so that the
// next change or deletion of the task goes to the version the server holds.
void SyncEngine::readEtag(const QString &uid)
{
    const SyncItem &item = m_items.at(m_byUid.value(uid));
    m_client.propfind(resourceUrl(item.href), 0, "<d:getetag/>",
                      [this, uid](const DavReply &reply) {
                          if (isTransportError(reply.error))
                              return fail(reply);
                          const DavMultistatus answer = parseMultistatus(reply.body, reply.url);
                          const auto found = m_byUid.constFind(uid);
                          if (reply.status == 207 && answer.valid && found != m_byUid.constEnd()) {
                              SyncItem &item = m_items[*found];
                              for (const DavResource &resource : answer.resources) {
                                  if (resource.href == item.href && !resource.etag.isEmpty()) {
                                      item.etag = resource.etag;
                                      if (!m_store.saveItem(m_account.userId, item))
                                          m_softError = SyncError::LocalWriteFailed;
                                  }
                              }
                          }
                          // Without it, the next listing names it.
                          pushNext();
                      });
}
