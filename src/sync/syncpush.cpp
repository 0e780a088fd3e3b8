#include "icalalarm.h"
#include "icalwriter.h"
#include "icalzonestore.h"
#include "syncdetails.h"
#include "syncengine.h"
#include "synclog.h"

#include <QRegularExpression>
#include <QUuid>

#include <memory>
#include <utility>

namespace {

constexpr int kMaxPasses = 3;
// Tasks recorded in one transaction, before they are sent and once the server took them.
constexpr int kRecordBatch = 50;

} // namespace

// Sends the next queued changes while fewer than m_inFlight await their answer, none after a
// request failed; once every answer is in, the pass goes on, or ends with that failure. A task is
// sent between the writer's jobs (see writeNext).
void SyncEngine::pushNext()
{
    if (!m_running)
        return;
    const auto more = [this]() {
        return m_sending < m_inFlight && !m_tracking && m_pushFailure.error == SyncError::None
               && !m_pushQueue.isEmpty();
    };
    while (!m_writing && more()) {
        const int index = m_pushQueue.takeFirst();
        SyncItem &item = m_items[index];
        const bool create =
                item.hasTask && (!item.tracked || (!item.synced && item.etag.isEmpty()));
        const bool update = item.hasTask && item.synced && SyncDetails::changedHere(item);
        const bool held = item.tracked && !item.hasTask && m_store.deletionHeld(item.taskId);
        m_undoHeld = m_undoHeld || held;
        const bool remove = item.tracked && !item.hasTask && !held;
        if (create || update || remove) {
            ++m_sending;
            pushItem(index);
        }
    }
    m_sendHeld = m_writing && more();
    if (m_sending > 0 || m_sendHeld)
        return;
    if (m_pushFailure.error != SyncError::None)
        return fail(std::exchange(m_pushFailure, {}));
    recordAcknowledged([this]() { afterPushed(); });
}

// One change is settled, its answer handled and recorded as that answer asks.
void SyncEngine::settled()
{
    --m_sending;
    pushNext();
}

// The first failure ends the pass once the requests still out have answered, so that what the
// server took meanwhile is recorded.
void SyncEngine::pushFailed(const DavReply &reply)
{
    if (m_pushFailure.error == SyncError::None)
        m_pushFailure = reply;
    settled();
}

void SyncEngine::afterPushed()
{
    if (m_retry && m_pass + 1 < kMaxPasses) {
        ++m_pass;
        return beginPass();
    }
    // A token is kept only from a listing taken after this program's own writes: a server
    // whose tokens name the collection's content shows nothing of a task written here and
    // deleted elsewhere before the next listing.
    if (m_wroteThere && !m_retry && !m_syncCollectionUnsupported && m_relists < kMaxPasses) {
        ++m_relists;
        return beginPass();
    }
    done(m_softError, m_softStatus);
}

// The next tasks never sent get their UID and address, recorded in one transaction before the
// first of them (index) is sent, so that a crash before an answer finds each resource again by
// its UID instead of creating a second one. A task imported or exported before keeps its UID;
// the file name is made of it when it is safe in a path.
void SyncEngine::trackUpcoming(int index)
{
    static const QRegularExpression safe(QStringLiteral("^[A-Za-z0-9@._-]{1,200}$"));
    QList<int> batch { index };
    for (int next : std::as_const(m_pushQueue)) {
        if (batch.size() > kRecordBatch)
            break;
        const SyncItem &item = m_items.at(next);
        if (item.hasTask && !item.tracked)
            batch.append(next);
    }
    QList<SyncItem> recording;
    for (int next : std::as_const(batch)) {
        SyncItem &item = m_items[next];
        if (item.uid.isEmpty())
            item.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString name = safe.match(item.uid).hasMatch()
                                     ? item.uid
                                     : QUuid::createUuid().toString(QUuid::WithoutBraces);
        item.href = hrefPath(m_collection.resolved(QUrl(name + QStringLiteral(".ics"))));
        item.tracked = true;
        m_byUid.insert(item.uid, next);
        recording.append(item);
    }
    // Nothing else is sent until they are recorded: the batch holds the next of the queue.
    m_tracking = true;
    record(recording, [this, index]() {
        m_tracking = false;
        sendItem(index);
        pushNext();
    });
}

// Items in one transaction on the writer's thread, while answers are handled here; then goes on.
void SyncEngine::record(const QList<SyncItem> &items, std::function<void()> then)
{
    auto ok = std::make_shared<bool>(true);
    write(
            [this, items, ok]() {
                const bool began = !items.isEmpty() && m_writes->transaction(true);
                for (const SyncItem &item : items)
                    *ok = m_writes->saveItem(m_account.userId, item) && *ok;
                if (began && !m_writes->commit()) {
                    m_writes->rollback();
                    *ok = false;
                }
            },
            [this, ok, then = std::move(then)]() {
                if (!*ok)
                    m_softError = SyncError::LocalWriteFailed;
                then();
            });
}

// The items the server took since the last record, as they are now.
QList<SyncItem> SyncEngine::takeAcknowledged()
{
    QList<SyncItem> items;
    for (const QString &uid : std::exchange(m_acknowledged, {})) {
        const auto found = m_byUid.constFind(uid);
        if (found != m_byUid.constEnd())
            items.append(m_items.at(*found));
    }
    return items;
}

// What the server took since the last record, in one transaction; then goes on.
void SyncEngine::recordAcknowledged(std::function<void()> then)
{
    if (m_acknowledged.isEmpty())
        return then();
    record(takeAcknowledged(), std::move(then));
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
                return pushFailed(reply);
            if (CalDavClient::isSuccess(reply.status) || reply.status == 404) {
                m_wroteThere = true;
                const qint64 taskId = m_items.at(m_byUid.value(uid)).taskId;
                return write([this, taskId]() { m_writes->removeItem(taskId); },
                             [this]() { settled(); });
            } else if (reply.status == 412) {
                m_refused.append(m_items.at(m_byUid.value(uid)).href);
                m_retry = true;
                m_softStatus = reply.status;
            } else {
                m_softError = SyncError::ServerError;
                m_softStatus = reply.status;
            }
            settled();
        });
        return;
    }

    if (!item.tracked)
        return trackUpcoming(index);
    sendItem(index);
}

// alarmRetry: the task goes again, without this program's reminder the server refused.
void SyncEngine::sendItem(int index, bool alarmRetry)
{
    Q_ASSERT(!m_writing); // it reads the task's repeat and reminder here
    SyncItem &item = m_items[index];
    const QDateTime modified = item.changedAt > 0
                                       ? QDateTime::fromSecsSinceEpoch(item.changedAt, Qt::UTC)
                                       : QDateTime::currentDateTimeUtc();
    // A task the server took without giving an ETag is changed only once its ETag is read.
    const bool create = item.etag.isEmpty();
    IcalTask task;
    task.uid = item.uid;
    task.setFields(item.local);
    task.created = item.created.isValid() ? item.created : modified;
    // A text kept from an import (an item never synced) names its zones without defining them.
    if (!m_zones)
        m_zones = IcalZoneStore::read(m_store.database(), m_account.userId);
    task.calendar = IcalZoneStore::withZones(item.ical.toUtf8(), *m_zones, !item.tracked);
    // Details without a row here are those of the text, which keeps them.
    task.detailsKnown = item.details.has_value();
    if (item.details)
        task.details = *item.details;
    if (item.taskId > 0)
        task.repeat = m_store.repeatOf(m_account.userId, item.taskId);
    // The task's own reminder, else the account's.
    const std::optional<int> own =
            item.taskId > 0 ? m_store.reminderOf(m_account.userId, item.taskId) : std::nullopt;
    if (own || m_alarmLead)
        task.alarmLead = m_alarmsRefused ? -1 : own ? *own : *m_alarmLead;
    const QByteArray sent = IcalWriter::writeTask(task, modified);
    // Whether the reminders were refused is read when the task is written: another answer may
    // have told it since.
    const Sent how { alarmRetry, !m_alarmsRefused };
    m_client.put(resourceUrl(item.href), sent, create ? QByteArray() : item.etag,
                 [this, uid = item.uid, sent, how](const DavReply &reply) {
                     onPushed(uid, reply, sent, how);
                 });
}

void SyncEngine::onPushed(const QString &uid, const DavReply &reply, const QByteArray &sent,
                          Sent how)
{
    if (isTransportError(reply.error))
        return pushFailed(reply);
    const auto found = m_byUid.constFind(uid);
    if (found == m_byUid.constEnd())
        return settled();
    SyncItem &item = m_items[*found];
    if (CalDavClient::isSuccess(reply.status)) {
        item.etag = reply.etag;
        item.ical = QString::fromUtf8(sent);
        item.synced = true;
        item.acknowledged = item.local;
        item.resend = false;
        if (item.details)
            item.syncedDetails = item.details;
        m_wroteThere = true;
        m_writtenHrefs.insert(item.href);
        m_acknowledged.append(uid);
        if (item.etag.isEmpty())
            return recordAcknowledged([this, uid]() { readEtag(uid); });
        if (m_acknowledged.size() >= kRecordBatch)
            return recordAcknowledged([this]() { settled(); });
    } else if (reply.status == 412 || reply.status == 404) {
        // Changed or deleted on the server since it was read: fetched, merged and written again
        // on the next pass.
        m_refused.append(item.href);
        m_retry = true;
        m_softStatus = reply.status;
    } else if (how.alarmsAllowed && IcalAlarm::carriesOwn(sent) && reply.status != 401
               && reply.status != 429 && reply.status != 503) {
        // Some servers refuse alarms: the task goes again without this program's reminder.
        qCWarning(lcSync) << "PUT with a reminder refused with" << reply.status;
        m_alarmsRefused = true;
        const int index = *found;
        if (m_writing)
            return write([]() {}, [this, index]() { sendItem(index, true); });
        return sendItem(index, true);
    } else {
        if (how.alarmRetry)
            m_alarmsRefused = false; // refused for another reason
        qCWarning(lcSync) << "PUT refused with" << reply.status << reply.body.left(200);
        m_softError = SyncError::ServerError;
        m_softStatus = reply.status;
    }
    settled();
}

// The server took the task without naming its ETag (RFC 4791 allows it): it is read, so that the
// next change or deletion of the task goes to the version the server holds.
void SyncEngine::readEtag(const QString &uid)
{
    const SyncItem &item = m_items.at(m_byUid.value(uid));
    m_client.propfind(resourceUrl(item.href), 0, "<d:getetag/>",
                      [this, uid](const DavReply &reply) {
                          if (isTransportError(reply.error))
                              return pushFailed(reply);
                          const DavMultistatus answer = parseMultistatus(reply.body, reply.url);
                          const auto found = m_byUid.constFind(uid);
                          if (reply.status == 207 && answer.valid && found != m_byUid.constEnd()) {
                              SyncItem &item = m_items[*found];
                              for (const DavResource &resource : answer.resources) {
                                  if (resource.href == item.href && !resource.etag.isEmpty()) {
                                      item.etag = resource.etag;
                                      m_acknowledged.append(uid);
                                  }
                              }
                          }
                          // Without it, the next listing names it.
                          recordAcknowledged([this]() { settled(); });
                      });
}
