#include "icalreader.h"
#include "syncengine.h"
#include "synclog.h"
#include "syncmerge.h"

namespace {

// A pass that would delete more tasks than this, and more than a quarter of the account's
// synced tasks, asks the person first.
constexpr int kDeletionsWithoutAsking = 10;

} // namespace

bool SyncEngine::written(bool ok)
{
    if (!ok)
        m_writeFailed = true;
    return ok;
}

// The tasks are read again in the transaction that writes them, so that a change made here
// while the server was asked is what the server's changes are weighed against; a failed write
// undoes the pass and its sync token with it.
void SyncEngine::applyChanges()
{
    m_writeFailed = false;
    bool read = false;
    if (m_store.transaction())
        m_items = m_store.loadItems(m_account.userId, &read);
    if (!read) {
        m_store.rollback();
        return done(SyncError::LocalWriteFailed);
    }
    index();
    if (holdDeletions()) {
        m_store.rollback();
        return done(SyncError::ManyDeletions);
    }
    for (const QString &href : std::as_const(m_unlisted)) {
        const auto found = m_byHref.constFind(href);
        if (found != m_byHref.constEnd())
            reupload(m_items[*found]);
    }
    for (const QString &href : std::as_const(m_removed))
        applyRemoval(href);
    for (const DavResource &resource : std::as_const(m_fetched))
        applyResource(resource);
    if (!m_newToken.isEmpty() || m_syncCollectionUnsupported)
        m_account.syncToken = m_newToken;
    written(m_store.saveToken(m_account.userId, m_account.syncToken,
                              QDateTime::currentSecsSinceEpoch()));
    if (m_writeFailed || !m_store.commit()) {
        m_store.rollback();
        return done(SyncError::LocalWriteFailed);
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

// Many deletions at once are more often a server emptied or restored than a person's doing:
// they wait for the person, who may keep the tasks (sent again) or delete them.
bool SyncEngine::holdDeletions()
{
    QStringList deleting;
    int synced = 0;
    for (const SyncItem &item : std::as_const(m_items))
        synced += item.tracked && item.hasTask && item.synced ? 1 : 0;
    for (const QString &href : std::as_const(m_removed)) {
        const auto found = m_byHref.constFind(href);
        if (found == m_byHref.constEnd())
            continue;
        const SyncItem &item = m_items.at(*found);
        if (item.hasTask && item.synced && item.local == item.acknowledged)
            deleting.append(href);
    }
    const bool many = deleting.size() > kDeletionsWithoutAsking && deleting.size() * 4 > synced;
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
    const bool changedHere = !item.synced || item.local != item.acknowledged;
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
    if (index < 0)
        index = m_byUid.value(todo.uid, -1); // whatever gave the task its UID: import, a sync

    if (index < 0) {
        SyncItem item;
        item.taskId = m_store.insertTask(m_account.userId, there, todo.created);
        if (!written(item.taskId >= 0))
            return;
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
    // The version both sides last agreed on, when there is one.
    const bool agreed = item.tracked && item.synced;
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
            written(m_store.removeItem(oldId));
            item.hasTask = true;
            item.local = there;
            m_tasksWritten = true;
        }
    } else if (item.local != there) {
        const qint64 hereTime =
                item.changedAt > 0 ? item.changedAt : QDateTime::currentSecsSinceEpoch();
        const qint64 thereTime = lastModified.isValid() ? lastModified.toSecsSinceEpoch() : 0;
        const SyncMerge::Result merge = SyncMerge::merge(agreed ? &item.acknowledged : nullptr,
                                                         item.local, there, thereTime > hereTime);
        if (merge.merged != item.local) {
            written(m_store.updateTask(m_account.userId, item.taskId, merge.merged));
            item.local = merge.merged;
            m_tasksWritten = true;
        }
        if (merge.keepCopy
            && written(m_store.insertTask(m_account.userId, merge.copy, QDateTime()) >= 0)) {
            m_notes.append(merge.copy.name);
            m_tasksWritten = true;
        }
    }
    item.synced = true;
    item.acknowledged = there;
    written(m_store.saveItem(m_account.userId, item));
}
