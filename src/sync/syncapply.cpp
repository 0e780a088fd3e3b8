#include "icalreader.h"
#include "syncdetails.h"
#include "syncengine.h"
#include "synclog.h"
#include "syncmerge.h"

#include <QElapsedTimer>

#include <limits>

namespace {

// A pass that would delete more tasks than this, and more than a quarter of the account's
// synced tasks, asks the person first.
constexpr int kDeletionsWithoutAsking = 10;
// How long the writes of one transaction may take: the window's own writes wait for it.
constexpr qint64 kBatchMs = 50;
// A pass that changes nothing here writes the time it synced only when the recorded one is older.
constexpr qint64 kSyncTimeKeptSecs = 10 * 60;

} // namespace

// The details of a task written from the server's side: a row only for a task that has some,
// or has its own already; the list shows, sorts and filters by them.
bool SyncEngine::storeDetails(SyncItem &item, const TaskDetails &details)
{
    if (!item.details && details.isEmpty())
        return true;
    if (!written(m_writes->storeDetails(m_account.userId, item.taskId, details)))
        return false;
    item.details = details;
    m_tasksWritten = true;
    return true;
}

bool SyncEngine::written(bool ok)
{
    if (!ok)
        m_writeFailed = true;
    return ok;
}

// What a listing causes is written on the writer's thread, in transactions of a few tens of
// milliseconds of work each, so that the window's own writes wait little; the sync token goes
// with the last, so that a failed write keeps every change it covers to be made again on the
// next pass. Each task is read again in the transaction that writes it: a change made here while
// the server was asked, or between two transactions, is what the server's change is weighed
// against.
void SyncEngine::applyChanges()
{
    m_writeFailed = false;
    m_applied = 0;
    if (holdDeletions())
        return done(SyncError::ManyDeletions);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    m_nothingApplied =
            m_unlisted.isEmpty() && m_removed.isEmpty() && m_fetched.isEmpty()
            && (m_newToken.isEmpty() ? !m_syncCollectionUnsupported || m_account.syncToken.isEmpty()
                                     : m_newToken == m_account.syncToken);
    if (m_nothingApplied && now - m_account.lastSyncEpoch < kSyncTimeKeptSecs) {
        // Nothing to write: the time of this pass is kept here (lastSyncEpoch()).
        m_account.lastSyncEpoch = now;
        return afterApplied();
    }
    write([this]() { applyAll(); }, [this]() { afterApplied(); });
}

// On the writer's thread.
void SyncEngine::applyAll()
{
    const qsizetype total = m_unlisted.size() + m_removed.size() + m_fetched.size();
    bool last = false;
    while (!last) {
        QElapsedTimer clock;
        clock.start();
        if (m_writer.cancelled() || !m_writes->transaction(true)) {
            m_writeFailed = true;
            return;
        }
        while (m_applied < total && !m_writeFailed && !m_writer.cancelled()
               && clock.elapsed() < kBatchMs) {
            qsizetype at = m_applied++;
            if (at < m_unlisted.size()) {
                const auto found = m_byHref.constFind(m_unlisted.at(at));
                if (found != m_byHref.constEnd() && refresh(m_items[*found]))
                    reupload(m_items[*found]);
                continue;
            }
            at -= m_unlisted.size();
            if (at < m_removed.size()) {
                applyRemoval(m_removed.at(at));
                continue;
            }
            applyResource(m_fetched.at(at - m_removed.size()));
        }
        last = m_applied >= total;
        if (last) {
            if (!m_newToken.isEmpty() || m_syncCollectionUnsupported)
                m_account.syncToken = m_newToken;
            m_account.lastSyncEpoch = QDateTime::currentSecsSinceEpoch();
            written(m_writes->saveToken(m_account.userId, m_account.syncToken,
                                        m_account.lastSyncEpoch));
        }
        if (m_writeFailed || m_writer.cancelled() || !m_writes->commit()) {
            m_writes->rollback();
            m_writeFailed = true;
            return;
        }
    }
}

void SyncEngine::afterApplied()
{
    if (m_writeFailed)
        return done(SyncError::LocalWriteFailed);
    m_fetched.clear();
    if (m_tasksWritten)
        emit tasksChanged();
    m_tasksWritten = false;
    m_writtenHrefs.clear(); // the token just kept was given after those writes

    // What is sent: the tasks in scope, with every change made by then; those read at the start
    // of the pass when nothing changed since.
    m_lastChange = m_store.lastChange();
    if (m_nothingApplied && m_lastChange == m_readChange)
        return startPush();
    m_scope.hrefs.clear();
    m_scope.uids.clear();
    readItems(&SyncEngine::startPush);
}

void SyncEngine::startPush()
{
    m_pushQueue.clear();
    m_sending = 0;
    m_tracking = false;
    m_sendHeld = false;
    m_pushFailure = {};
    for (int i = 0; i < m_items.size(); ++i)
        m_pushQueue.append(i);
    pushNext();
}

// The task of item as it is now; false when it cannot be read.
bool SyncEngine::refresh(SyncItem &item)
{
    return written(!item.hasTask || m_writes->refreshTask(m_account.userId, item));
}

// Many deletions at once are more often a server emptied or restored than a person's doing:
// they wait for the person, who may keep the tasks (sent again) or delete them.
bool SyncEngine::holdDeletions()
{
    QStringList deleting;
    for (const QString &href : std::as_const(m_removed)) {
        const auto found = m_byHref.constFind(href);
        if (found == m_byHref.constEnd())
            continue;
        SyncItem &item = m_items[*found];
        if (item.hasTask && item.synced && !SyncDetails::changedHere(item))
            deleting.append(href);
    }
    const bool many = deleting.size() > kDeletionsWithoutAsking
                      && deleting.size() * 4 > m_store.syncedCount(m_account.userId);
    if (!many || m_deletionChoice == Deletions::Delete)
        return false;
    if (m_deletionChoice == Deletions::Keep) {
        for (const QString &href : std::as_const(deleting))
            m_removed.removeAll(href);
        m_unlisted += deleting;
        return false;
    }
    m_heldDeletions = int(deleting.size());
    return true;
}

// A task the server lacks is sent again as a new resource, as if it had never been sent.
void SyncEngine::reupload(SyncItem &item)
{
    if (!item.hasTask) {
        written(m_writes->removeItem(item.taskId)); // its deletion is already true there
        return;
    }
    item.etag.clear();
    item.synced = false;
    written(m_writes->saveItem(m_account.userId, item));
}

void SyncEngine::applyRemoval(const QString &href)
{
    const auto found = m_byHref.constFind(href);
    if (found == m_byHref.constEnd())
        return;
    SyncItem &item = m_items[*found];
    if (!refresh(item))
        return;
    const bool changedHere = !item.synced || SyncDetails::changedHere(item);
    if (!item.hasTask) {
        written(m_writes->removeItem(item.taskId));
    } else if (!changedHere) {
        written(m_writes->deleteTask(m_account.userId, item.taskId));
        written(m_writes->removeItem(item.taskId));
        m_tasksWritten = true;
    } else {
        // Deleted there, changed here: the change is kept and sent again as a new resource.
        reupload(item);
    }
}

void SyncEngine::applyResource(const DavResource &resource)
{
    // The task is read as an import reads it, with the time zones the resource defines; what
    // this program does not read stays in the resource's text.
    const IcalReadResult read =
            IcalReader::read(resource.calendarData.toUtf8(), IcalReader::Mode::Resource);
    if (read.tasks.isEmpty()) {
        if (!read.error.isEmpty())
            qCWarning(lcSync) << "cannot read" << resource.href << read.error;
        return; // events and journals of the same calendar are not ours to touch
    }
    const IcalTask &todo = read.tasks.first();
    const TaskFields there = todo.fields();
    const QDateTime lastModified = todo.lastModified.isValid() ? todo.lastModified : todo.stamp;
    int index = m_byHref.value(resource.href, -1);
    if (index < 0 && !m_scope.all && !m_byUid.contains(todo.uid)) {
        // Not read at the start of the pass: a task of this UID here, unchanged since.
        ItemScope byUid;
        byUid.all = false;
        byUid.changedAfter = std::numeric_limits<qint64>::max();
        byUid.uids = QStringList { todo.uid };
        for (const SyncItem &found : m_writes->loadItems(m_account.userId, nullptr, byUid)) {
            if (found.uid == todo.uid && !m_byUid.contains(found.uid)) {
                m_items.append(found);
                m_byUid.insert(found.uid, int(m_items.size()) - 1);
                if (found.tracked)
                    m_byHref.insert(found.href, int(m_items.size()) - 1);
            }
        }
    }
    if (index < 0)
        index = m_byUid.value(todo.uid, -1); // whatever gave the task its UID: import, a sync

    if (index < 0) {
        SyncItem item;
        item.taskId = m_writes->insertTask(m_account.userId, there, todo.created);
        if (!written(item.taskId >= 0) || !storeDetails(item, todo.details))
            return;
        item.syncedDetails = todo.details;
        item.tracked = item.hasTask = item.synced = true;
        item.uid = todo.uid;
        item.href = resource.href;
        item.etag = resource.etag;
        item.ical = resource.calendarData;
        item.acknowledged = item.local = there;
        written(m_writes->saveItem(m_account.userId, item));
        m_items.append(item);
        m_byHref.insert(item.href, m_items.size() - 1);
        m_byUid.insert(item.uid, m_items.size() - 1);
        m_tasksWritten = true;
        return;
    }

    SyncItem &item = m_items[index];
    if (!refresh(item))
        return;
    // The version both sides last agreed on, when there is one.
    const bool agreed = item.tracked && item.synced;
    // Read before the server's text replaces the one they come from.
    const SyncMerge::Version base { item.acknowledged,
                                    agreed ? SyncDetails::acknowledged(item) : TaskDetails() };
    const SyncMerge::Version here { item.local, SyncDetails::local(item) };
    const bool changedThere = agreed && item.etag != resource.etag;
    item.tracked = true;
    item.href = resource.href;
    item.etag = resource.etag;
    item.ical = resource.calendarData;

    if (!item.hasTask) {
        if (changedThere) {
            // Deleted here, edited there: the edit wins and the task comes back.
            const qint64 oldId = item.taskId;
            item.taskId = m_writes->insertTask(m_account.userId, there, todo.created);
            if (!written(item.taskId >= 0))
                return;
            item.details.reset();
            storeDetails(item, todo.details);
            written(m_writes->removeItem(oldId));
            item.hasTask = true;
            item.local = there;
            m_tasksWritten = true;
        }
    } else if (item.local != there || here.details != todo.details) {
        const qint64 hereTime =
                item.changedAt > 0 ? item.changedAt : QDateTime::currentSecsSinceEpoch();
        const qint64 thereTime = lastModified.isValid() ? lastModified.toSecsSinceEpoch() : 0;
        const SyncMerge::Result merge = SyncMerge::merge(
                agreed ? &base : nullptr, here, { there, todo.details }, thereTime > hereTime);
        if (merge.merged != item.local) {
            written(m_writes->updateTask(m_account.userId, item.taskId, merge.merged));
            item.local = merge.merged;
            m_tasksWritten = true;
        }
        if (!item.details || *item.details != merge.mergedDetails)
            storeDetails(item, merge.mergedDetails);
        if (merge.keepCopy) {
            SyncItem copy;
            copy.taskId = m_writes->insertTask(m_account.userId, merge.copy, QDateTime());
            if (written(copy.taskId >= 0) && storeDetails(copy, merge.copyDetails))
                m_notes.append(merge.copy.name);
            m_tasksWritten = true;
        }
    } else if (!item.details && !todo.details.isEmpty()) {
        storeDetails(item, todo.details); // received before they were kept apart from the text
    }
    item.synced = true;
    item.acknowledged = there;
    item.syncedDetails = todo.details;
    written(m_writes->saveItem(m_account.userId, item));
}
