// The import of an iCalendar file: its tasks are saved as they are read, a batch per transaction.
#include "transferwork.h"

#include "icalreader.h"
#include "icaltaskstore.h"
#include "icalzonestore.h"
#include "importtexts.h"
#include "searchbatch.h"

#include <QBuffer>
#include <QLoggingCategory>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

Q_LOGGING_CATEGORY(lcTransferImport, "tarvik.ical.import", QtCriticalMsg)

namespace {

// Whether the task as it is here is newer than the file's: it was changed here after the file
// says its task was last changed, or, when the file does not say, after it was last imported.
bool newerHere(const IcalTaskStore::Found &here, const IcalTask &task)
{
    if (here.changedMs < 0 || here.fields == task.fields())
        return false;
    const QDateTime fileChange = task.lastModified.isValid() ? task.lastModified : task.stamp;
    return !fileChange.isValid() || here.changedMs > fileChange.toMSecsSinceEpoch();
}

void merge(TaskChanges &into, const TaskChanges &changes)
{
    into.created += changes.created;
    into.updated += changes.updated;
    into.deleted += changes.deleted;
    into.doneDeleted = into.doneDeleted || changes.doneDeleted;
}

// Tasks handed from the reading to the saving at a time: several to a transaction, so that less
// of the file is held at once and Cancel is looked at more often.
constexpr qsizetype kReadSlice = 1000;

// Slices of a file read on a thread of their own, handed to the thread that saves them through a
// short queue: the reading of the next slices goes on while one is saved, and no more of the
// file's tasks are held than a few slices.
class SliceQueue
{
public:
    // On the reading thread: false once the saving stopped.
    bool put(IcalReadSlice &&slice)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_space.wait(lock, [this] { return m_slices.size() < kAhead || m_stopped; });
        if (m_stopped)
            return false;
        m_slices.push_back(std::move(slice));
        m_ready.notify_one();
        return true;
    }

    // On the reading thread, once it read all it will.
    void finish()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
        m_ready.notify_one();
    }

    // On the saving thread: the next slice, or none when the reading finished and all were taken.
    std::optional<IcalReadSlice> take()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait(lock, [this] { return !m_slices.empty() || m_finished; });
        if (m_slices.empty())
            return std::nullopt;
        IcalReadSlice slice = std::move(m_slices.front());
        m_slices.pop_front();
        m_space.notify_one();
        return slice;
    }

    // On the saving thread: no more slices are wanted.
    void stop()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
        m_slices.clear();
        m_space.notify_one();
    }

private:
    static constexpr size_t kAhead = 2;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::condition_variable m_space;
    std::deque<IcalReadSlice> m_slices;
    bool m_finished = false;
    bool m_stopped = false;
};

// The saving of an import: each slice of the file's tasks as the reader hands it on, a batch per
// transaction.
class SliceSaver
{
public:
    SliceSaver(TaskStore *tasks, qint64 userId, TransferProgress *progress, qsizetype batch)
        : tasks(tasks)
        , store(tasks)
        , m_userId(userId)
        , m_progress(progress)
        , m_batch(batch)
    {
    }

    // False when the import is to stop: a write failed (ok is then false) or Cancel was pressed.
    bool save(IcalReadSlice &&slice)
    {
        if (m_progress && m_progress->cancelled()) {
            cancelled = true;
            return false;
        }
        ImportTexts::dropDoubledUids(slice.tasks, uids);
        m_handedOn += slice.tasks.size();
        total = m_handedOn + slice.todosLeft;
        if (!open) {
            ok = tasks->transaction(true) && (m_prepared || (m_prepared = store.prepare()))
                 && store.beginInserts(m_userId);
            open = ok;
            m_counts = saved;
            m_handled = next;
            // The record of what the import writes, for its undo, goes in the same transactions.
            if (ok && importId == 0)
                importId = tasks->beginImport(m_userId);
            m_search.emplace(tasks->database());
            ok = ok && importId > 0 && m_search->begin();
        }
        SearchIndexBatch &search = *m_search;
        // The zones the tasks use come with them.
        QString zoneError;
        if (ok && !IcalZoneStore::store(tasks->database(), m_userId, slice.zones, zoneError)) {
            qCWarning(lcTransferImport) << "cannot keep the time zones:" << zoneError;
            ok = false;
        }
        QList<IcalTask *> fresh; // new here, stored together at the end of the slice
        for (IcalTask &task : slice.tasks) {
            if (!ok)
                break;
            const IcalTaskStore::Found here = store.findTask(m_userId, task.uid);
            task.id = here.id;
            if (task.id > 0 && newerHere(here, task)) {
                ++m_counts.kept;
                continue;
            }
            if (task.id > 0) {
                ok = tasks->noteImported(importId, m_userId, task.id, false)
                     && store.updateTask(m_userId, task);
                ++m_counts.updated;
            } else if (task.id == 0 && store.insertsInBatches()) {
                fresh.append(&task);
                ++m_counts.imported;
                continue;
            } else {
                ok = task.id == 0 && store.insertTask(m_userId, task)
                     && tasks->noteImported(importId, m_userId, task.id, true);
                ++m_counts.imported;
            }
            search.touched(task.id);
        }
        ok = ok && store.insertTasks(m_userId, importId, fresh);
        for (const IcalTask *task : std::as_const(fresh))
            search.touched(task->id);
        m_handled += slice.tasks.size();
        if (ok && m_batch > 0 && m_handled - next >= m_batch)
            ok = commit();
        return ok;
    }

    // Commits the open transaction, the search index brought in step first; what it holds
    // counts as saved.
    bool commit()
    {
        ok = m_search->end();
        m_search.reset();
        committing = ok;
        ok = ok && tasks->commit();
        open = !ok;
        if (ok) {
            outcome.importId = importId;
            saved = m_counts;
            next = m_handled;
            committing = false;
        }
        return ok;
    }

    TaskStore *tasks;
    IcalTaskStore store;
    TransferOutcome outcome;
    ImportTexts::SeenUids uids; // of the file's tasks so far
    ImportCounts saved; // as of the last commit
    qsizetype next = 0; // the file's tasks saved or kept, as of the last commit
    qsizetype total = 0; // the tasks handed on and the VTODOs not read yet
    qint64 importId = 0;
    bool ok = true;
    bool committing = false;
    bool cancelled = false;
    bool open = false; // a transaction is open
    bool saving = false; // a slice was taken

private:
    qint64 m_userId;
    TransferProgress *m_progress;
    qsizetype m_batch;
    ImportCounts m_counts; // with the open transaction
    qsizetype m_handled = 0; // the file's tasks saved or kept, with the open transaction
    qsizetype m_handedOn = 0; // tasks the reader handed on so far
    std::optional<SearchIndexBatch> m_search; // with the open transaction
    bool m_prepared = false;
};

} // namespace

TransferOutcome TransferWork::importCalendar(TaskStore *tasks, qint64 userId,
                                             const QByteArray &data, TransferProgress *progress,
                                             qsizetype batch)
{
    QBuffer file;
    file.setData(data);
    file.open(QIODevice::ReadOnly);
    return importCalendar(tasks, userId, &file, progress, batch);
}

TransferOutcome TransferWork::importCalendar(TaskStore *tasks, qint64 userId, QIODevice *file,
                                             TransferProgress *progress, qsizetype batch)
{
    SliceSaver saver(tasks, userId, progress, batch);
    TransferOutcome &outcome = saver.outcome;
    const QMetaObject::Connection collecting =
            QObject::connect(tasks, &TaskStore::tasksChanged,
                             [&outcome](const TaskChanges &changes, TaskStore::Origin origin) {
                                 if (origin == TaskStore::Origin::Import)
                                     merge(outcome.changes, changes);
                             });
    // The file is read on a thread of its own (at this thread's scheduling priority), the tasks
    // are saved on this one, whose connection it is.
    SliceQueue queue;
    IcalReadResult read;
    std::thread reader([&] {
        read = IcalReader::readInSlices(
                file, batch > 0 ? std::min(batch, kReadSlice) : kReadSlice,
                [&queue](IcalReadSlice &&slice) { return queue.put(std::move(slice)); },
                [progress](qsizetype done, qsizetype total) {
                    return !progress || progress->step(done, total, 0, 1000);
                });
        queue.finish();
    });
    while (std::optional<IcalReadSlice> slice = queue.take()) {
        saver.saving = true;
        if (!saver.save(std::move(*slice))) {
            queue.stop();
            break;
        }
    }
    reader.join();
    // An empty file still takes one transaction, which finds a file another program holds.
    if (!saver.saving && saver.ok && read.error.isEmpty() && !read.cancelled)
        saver.save(IcalReadSlice());
    const bool cancelled = saver.cancelled || (saver.ok && read.cancelled);
    if (saver.ok && saver.open && !cancelled)
        saver.commit();
    QObject::disconnect(collecting);
    const ImportCounts &saved = saver.saved;
    const qsizetype next = saver.next;
    const qsizetype total = saver.total;
    outcome.counts = saved;

    if (!saver.ok) {
        const QString cause = TransferWork::failure(saver.store, *tasks, saver.committing, "saved");
        tasks->rollback();
        qCWarning(lcTransferImport) << "import stopped:" << saver.store.lastError();
        outcome.text = next == 0 ? QStringLiteral("Nothing imported: ") + cause
                                 : ImportTexts::partialImport("Import stopped", next, total, saved)
                                           + QStringLiteral(": ") + cause;
        return outcome;
    }
    if (cancelled) {
        if (saver.open)
            tasks->rollback();
        outcome.text = next == 0
                               ? QStringLiteral("Import cancelled: nothing imported")
                               : ImportTexts::partialImport("Import cancelled", next, total, saved);
        return outcome;
    }
    if (!read.error.isEmpty()) {
        // Only a file that changed while it was read is found wanting after tasks were saved.
        outcome.text = next == 0 ? QStringLiteral("Nothing imported: ") + read.error
                                 : ImportTexts::partialImport("Import stopped", next, total, saved)
                                           + QStringLiteral(": ") + read.error;
        return outcome;
    }
    QStringList notes;
    if (read.recoded > 0)
        notes << QStringLiteral("read as Windows-1252, not being UTF-8");
    if (saver.uids.doubled > 0)
        notes << ImportTexts::doubledUidsNote(saver.uids);
    outcome.ok = outcome.counts.ok = true;
    outcome.counts.skipped = read.skipped + int(saver.uids.doubled);
    outcome.text =
            QStringLiteral("Imported %1 tasks, updated %2, skipped %3")
                    .arg(saved.imported)
                    .arg(saved.updated)
                    .arg(outcome.counts.skipped)
            + (saved.kept > 0 ? QStringLiteral(", kept %1 newer here").arg(saved.kept) : QString())
            + ImportTexts::importNotes(read, notes);
    return outcome;
}
