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
// How long one slice of writes may take before the event loop has its turn.
constexpr qint64 kSliceMs = 15;

} // namespace

// The details of a task written from the server's side: a row only for a task that has some,
// or has its own already; the list shows, sorts and filters by them.
bool SyncEngine::storeDetails(SyncItem &item, const TaskDetails &details)
{
    if (!item.details && details.isEmpty())
        return true;
    if (!written(m_store.storeDetails(m_account.userId, item.taskId, details)))
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

// What a listing causes is written in slices of a few milliseconds, each a transaction of its
// own, so that the window keeps answering; the sync token goes with the last slice, so that a
// failed write keeps every change it covers to be made again on the next pass. Each task is read
// again in the slice that writes it: a change made here while the server was asked, or between
// two slices, is what the server's change is weighed against.
void SyncEngine::applyChanges()
{
    m_writeFailed = false;
    m_applied = 0;
    if (holdDeletions())
        return done(SyncError::ManyDeletions);
    applySlice();
}

void SyncEngine::applySlice()
{
    if (!m_running)
        return;
    QElapsedTimer clock;
    clock.start();
    if (!m_store.transaction())
        return done(SyncError::LocalWriteFailed);
    const qsizetype total = m_unlisted.size() + m_removed.size() + m_fetched.size();
    while (m_applied < total && !m_writeFailed && clock.elapsed() < kSliceMs) {
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
    const bool last = m_applied >= total;
    if (last) {
        if (!m_newToken.isEmpty() || m_syncCollectionUnsupported)
            m_account.syncToken = m_newToken;
        written(m_store.saveToken(m_account.userId, m_account.syncToken,
                                  QDateTime::currentSecsSinceEpoch()));
    }
    if (m_writeFailed || !m_store.commit()) {
        m_store.rollback();
        return done(SyncError::LocalWriteFailed);
    }
    if (!last)
        return later(&SyncEngine::applySlice);
    m_fetched.clear();
    if (m_tasksWritten)
        emit tasksChanged();
    m_tasksWritten = false;
    m_writtenHrefs.clear(); // the token just kept was given after those writes

    // What is sent: the tasks in scope, with every change made by then.
    m_lastChange = m_store.lastChange();
    m_scope.hrefs.clear();
    m_scope.uids.clear();
    readItems(&SyncEngine::startPush);
}

void SyncEngine::startPush()
{
    m_pushQueue.clear();
    for (int i = 0; i < m_items.size(); ++i)
        m_pushQueue.append(i);
    pushNext();
}

// The task of item as it is now; false when it cannot be read.
bool SyncEngine::refresh(SyncItem &item)
{
    return written(!item.hasTask || m_store.refreshTask(m_account.userId, item));
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
        written(m_store.removeItem(item.taskId)); // its deletion is already true there
        return;
    }
    item.etag.clear();
    item.synced = false;
    written(m_store.saveItem(m_account.userId, item));
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
        written(m_store.removeItem(item.taskId));
    } else if (!changedHere) {
        written(m_store.deleteTask(m_account.userId, item.taskId));
        written(m_store.removeItem(item.taskId));
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
        for (const SyncItem &found : m_store.loadItems(m_account.userId, nullptr, byUid)) {
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
        item.taskId = m_store.insertTask(m_account.userId, there, todo.created);
        if (!written(item.taskId >= 0) || !storeDetails(item, todo.details))
            return;
        item.syncedDetails = todo.details;
        item.tracked = item.hasTask = item.synced = true;
        item.uid = todo.uid;
        item.href = resource.href;
        item.etag = resource.etag;
        item.ical = resource.calendarData;
        item.acknowledged = item.local = there;
        written(m_store.saveItem(m_account.userId, item));
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
            item.taskId = m_store.insertTask(m_account.userId, there, todo.created);
            if (!written(item.taskId >= 0))
                return;
            item.details.reset();
            storeDetails(item, todo.details);
            written(m_store.removeItem(oldId));
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
            written(m_store.updateTask(m_account.userId, item.taskId, merge.merged));
            item.local = merge.merged;
            m_tasksWritten = true;
        }
        if (!item.details || *item.details != merge.mergedDetails)
            storeDetails(item, merge.mergedDetails);
        if (merge.keepCopy) {
            SyncItem copy;
            copy.taskId = m_store.insertTask(m_account.userId, merge.copy, QDateTime());
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
    written(m_store.saveItem(m_account.userId, item));
}
