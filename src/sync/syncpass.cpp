// The steps of a pass that go through the sync's writer: reading the tasks, writing, and the end.
#include "syncdetails.h"
#include "syncengine.h"

#include <memory>
#include <utility>

namespace {

// Tasks read in one statement.
constexpr int kReadPage = 500;
// At most this many tasks to read are read on the engine's own thread, at once: a pass with
// little changed goes on without waiting for the writer's thread.
constexpr int kReadHere = 100;

} // namespace

void SyncEngine::write(std::function<void()> job, std::function<void()> then)
{
    m_writeQueue.append({ std::move(job), std::move(then) });
    if (!m_writing)
        writeNext();
}

// The writer runs one job at a time: the next waits here until the one before went on. Between
// two jobs the push sends what it held back, reading the file here, which it does not while the
// writer may be committing: this thread never waits for the writer's lock.
void SyncEngine::writeNext()
{
    m_writing = true;
    auto [job, then] = m_writeQueue.takeFirst();
    m_writer.run(
            [this, job = std::move(job)](SyncStore &store) {
                m_writes = &store;
                job();
                m_writes = &m_store;
            },
            [this, then = std::move(then), run = m_run]() {
                m_writing = false;
                if (!m_running || run != m_run)
                    return;
                then();
                if (!m_running || run != m_run)
                    return;
                if (std::exchange(m_sendHeld, false))
                    pushNext();
                if (!m_writing && !m_writeQueue.isEmpty())
                    writeNext();
            });
}

// The tasks in scope are read on the writer's thread, a page per statement, so that neither the
// window nor the file's other writers wait long, unless they are few; then the pass goes on with
// then.
void SyncEngine::readItems(void (SyncEngine::*then)())
{
    if (!m_scope.all
        && m_scope.hrefs.size() + m_scope.uids.size()
                           + m_store.changedCount(m_account.userId, m_scope.changedAfter)
                   <= kReadHere) {
        if (!readAll(m_store))
            return done(SyncError::LocalWriteFailed);
        return (this->*then)();
    }
    auto ok = std::make_shared<bool>(false);
    write([this, ok]() { *ok = readAll(*m_writes); },
          [this, then, ok]() {
              if (!*ok)
                  return done(SyncError::LocalWriteFailed);
              (this->*then)();
          });
}

bool SyncEngine::readAll(SyncStore &store)
{
    m_items.clear();
    m_readChange = store.lastChange();
    qint64 after = -1;
    for (;;) {
        if (&store != &m_store && m_writer.cancelled())
            return false;
        bool ok = false;
        const QList<SyncItem> page =
                store.loadItemPage(m_account.userId, m_scope, after, kReadPage, &ok);
        if (!ok)
            return false;
        int tasks = 0;
        for (const SyncItem &item : page) {
            if (item.hasTask) {
                ++tasks;
                after = item.taskId;
            }
        }
        m_items += page;
        if (tasks < kReadPage)
            break;
    }
    index();
    return true;
}

void SyncEngine::fail(const DavReply &reply)
{
    done(reply.error == SyncError::None ? SyncError::ServerError : reply.error, reply.status);
}

void SyncEngine::done(SyncError error, int status)
{
    if (!m_running || m_finishing)
        return;
    m_finishing = true;
    // An answer about deletions is for the pass it was asked for, whatever became of it.
    if (error != SyncError::ManyDeletions)
        m_deletionChoice = Deletions::Ask;
    // Success only when both sides hold every change.
    m_pending.clear();
    for (SyncItem &item : m_items) {
        if (item.hasTask && (!item.synced || SyncDetails::changedHere(item)))
            m_pending.append(item.local.name);
    }
    if (error == SyncError::None && (m_retry || !m_pending.isEmpty()))
        error = SyncError::ServerError;
    // Every change up to the one read before the tasks were sent is on both sides now.
    // A deletion held for its undo is still to be sent: the next pass reads it again.
    const bool sent = error == SyncError::None && !m_undoHeld && m_lastChange > 0
                      && m_lastChange != m_account.changesSent;
    const QList<SyncItem> acknowledged = takeAcknowledged();
    auto saved = std::make_shared<bool>(false);
    auto finish = [this, error, status, saved]() {
        if (*saved)
            m_account.changesSent = m_lastChange;
        m_running = false;
        if (m_tasksWritten)
            emit tasksChanged();
        m_tasksWritten = false;
        emit finished(error, status, m_notes);
    };
    if (acknowledged.isEmpty() && !sent)
        return finish(); // nothing to write
    write(
            [this, acknowledged, sent, saved]() {
                const bool began = !acknowledged.isEmpty() && m_writes->transaction(true);
                for (const SyncItem &item : acknowledged)
                    m_writes->saveItem(m_account.userId, item);
                if (began && !m_writes->commit())
                    m_writes->rollback();
                *saved = sent && m_writes->saveChangesSent(m_account.userId, m_lastChange);
            },
            finish);
}
