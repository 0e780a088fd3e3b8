// The import of an iCalendar file: the file is read on a thread of its own while the tasks read
// so far are saved, a batch per transaction.
#include "transferwork.h"

#include "icalreader.h"
#include "icaltaskstore.h"
#include "icalzonestore.h"
#include "importtexts.h"
#include "searchbatch.h"

#include <QLoggingCategory>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

Q_LOGGING_CATEGORY(lcTransferImport, "tarvik.ical.import", QtCriticalMsg)

namespace {

// The share of an import that reading the file stands for, in thousandths; the rest is saving.
constexpr int kReadShare = 500;
// Slices read and not saved yet, at most: beyond them the reader waits for the saver.
constexpr size_t kSlicesAhead = 2;
// How long the saver waits for a slice before it looks at Cancel and the progress again.
constexpr std::chrono::milliseconds kWait(100);

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

// The slices the reader handed on that the saver has not taken yet.
class SliceQueue
{
public:
    // Waits for room; false when the saver stopped.
    bool push(IcalReadSlice &&slice)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_stopped || m_slices.size() < kSlicesAhead; });
        if (m_stopped)
            return false;
        m_slices.push_back(std::move(slice));
        m_changed.notify_all();
        return true;
    }
    // The next slice, if one comes within kWait; ended when none will come.
    std::optional<IcalReadSlice> pop(bool &ended)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, kWait, [this] { return m_ended || !m_slices.empty(); });
        ended = m_ended && m_slices.empty();
        if (m_slices.empty())
            return std::nullopt;
        std::optional<IcalReadSlice> slice(std::move(m_slices.front()));
        m_slices.pop_front();
        m_changed.notify_all();
        return slice;
    }
    void end() { set(m_ended); }
    void stop() { set(m_stopped); }
    bool stopped()
    {
        const std::lock_guard lock(m_mutex);
        return m_stopped;
    }

private:
    void set(bool &flag)
    {
        const std::lock_guard lock(m_mutex);
        flag = true;
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<IcalReadSlice> m_slices;
    bool m_ended = false;
    bool m_stopped = false;
};

// A file read on a thread of its own, its tasks handed on through the queue; stopped and waited
// for when it goes. The thread inherits the scheduling priority of the one that makes it.
class FileReader
{
public:
    FileReader(const QByteArray &text, qsizetype slice, TransferProgress *progress)
    {
        m_thread = std::thread([this, text, slice, progress] {
            m_result = IcalReader::readInSlices(
                    text, slice,
                    [this](IcalReadSlice &&tasks) { return m_queue.push(std::move(tasks)); },
                    [this, progress](qsizetype done, qsizetype total) {
                        m_permille = total > 0 ? int(1000 * done / total) : 0;
                        return !m_queue.stopped() && !(progress && progress->cancelled());
                    });
            m_queue.end();
        });
    }
    ~FileReader() { result(); }
    FileReader(const FileReader &) = delete;
    FileReader &operator=(const FileReader &) = delete;

    SliceQueue &queue() { return m_queue; }
    // Thousandths of the file read.
    int permille() const { return m_permille; }
    // What the reading gave, once it ended; a reading still going is stopped first.
    const IcalReadResult &result()
    {
        m_queue.stop();
        if (m_thread.joinable())
            m_thread.join();
        return m_result;
    }

private:
    SliceQueue m_queue;
    IcalReadResult m_result;
    std::atomic<int> m_permille { 0 };
    std::thread m_thread;
};

} // namespace

TransferOutcome TransferWork::importCalendar(TaskStore *tasks, qint64 userId,
                                             const QByteArray &data, TransferProgress *progress,
                                             qsizetype batch)
{
    TransferOutcome outcome;
    qsizetype recoded = 0;
    FileReader reader(QUtf8StringView(data).isValidUtf8() ? data
                                                          : ImportTexts::asUtf8(data, &recoded),
                      batch > 0 ? batch : kBatchTasks, progress);

    const QMetaObject::Connection collecting =
            QObject::connect(tasks, &TaskStore::tasksChanged,
                             [&outcome](const TaskChanges &changes, TaskStore::Origin origin) {
                                 if (origin == TaskStore::Origin::Import)
                                     merge(outcome.changes, changes);
                             });
    IcalTaskStore store(tasks);
    QSet<QString> uids;
    QStringList doubled;
    ImportCounts saved; // as of the last commit
    ImportCounts counts; // with the open transaction
    qsizetype next = 0; // the file's tasks saved or kept, as of the last commit
    qsizetype handled = 0; // the same with the open transaction
    qsizetype handedOn = 0; // tasks the reader handed on so far
    qsizetype total = 0; // those and the VTODOs not read yet
    qint64 importId = 0;
    bool ok = true;
    bool committing = false;
    bool prepared = false;
    bool cancelled = false;
    bool open = false; // a transaction is open
    bool saving = false; // a slice was taken
    bool ended = false;
    while (ok) {
        std::optional<IcalReadSlice> slice = reader.queue().pop(ended);
        const qint64 done = reader.permille() * kReadShare / 1000
                            + (total > 0 ? (1000 - kReadShare) * next / total : 0);
        if (progress && !progress->step(done, 1000, 0, 1000)) {
            cancelled = true;
            break;
        }
        if (!slice && !ended)
            continue;
        if (!slice) {
            if (saving || !reader.result().error.isEmpty() || reader.result().cancelled)
                break;
            slice.emplace(); // an empty file still takes one transaction, which finds a file
                             // another program holds
        }
        saving = true;
        ImportTexts::dropDoubledUids(slice->tasks, uids, doubled);
        handedOn += slice->tasks.size();
        total = handedOn + slice->todosLeft;
        if (!open) {
            ok = tasks->transaction(true) && (prepared || (prepared = store.prepare()))
                 && store.beginInserts(userId);
            open = ok;
            counts = saved;
            handled = next;
            // The record of what the import writes, for its undo, goes in the same transactions.
            if (ok && importId == 0)
                importId = tasks->beginImport(userId);
            ok = ok && importId > 0;
        }
        SearchIndexBatch search(tasks->database());
        ok = ok && search.begin();
        // The zones the tasks use come with them.
        QString zoneError;
        if (ok && !IcalZoneStore::store(tasks->database(), userId, slice->zones, zoneError)) {
            qCWarning(lcTransferImport) << "cannot keep the time zones:" << zoneError;
            ok = false;
        }
        QList<IcalTask *> fresh; // new here, stored together at the end of the slice
        for (IcalTask &task : slice->tasks) {
            if (!ok)
                break;
            const IcalTaskStore::Found here = store.findTask(userId, task.uid);
            task.id = here.id;
            if (task.id > 0 && newerHere(here, task)) {
                ++counts.kept;
                continue;
            }
            if (task.id > 0) {
                ok = tasks->noteImported(importId, userId, task.id, false)
                     && store.updateTask(userId, task);
                ++counts.updated;
            } else if (task.id == 0 && store.insertsInBatches()) {
                fresh.append(&task);
                ++counts.imported;
                continue;
            } else {
                ok = task.id == 0 && store.insertTask(userId, task)
                     && tasks->noteImported(importId, userId, task.id, true);
                ++counts.imported;
            }
            search.touched(task.id);
        }
        ok = ok && store.insertTasks(userId, importId, fresh);
        for (const IcalTask *task : std::as_const(fresh))
            search.touched(task->id);
        ok = ok && search.end();
        handled += slice->tasks.size();
        if (ok && batch > 0) {
            committing = true;
            ok = tasks->commit();
            open = !ok;
            if (ok) {
                outcome.importId = importId;
                saved = counts;
                next = handled;
                committing = false;
            }
        }
    }
    const IcalReadResult &read = reader.result();
    cancelled = cancelled || read.cancelled;
    if (ok && open && !cancelled) {
        committing = true;
        ok = tasks->commit();
        if (ok) {
            open = false;
            outcome.importId = importId;
            saved = counts;
            next = handled;
        }
    }
    QObject::disconnect(collecting);
    outcome.counts = saved;

    if (!ok) {
        const QString cause = TransferWork::failure(store, *tasks, committing, "saved");
        tasks->rollback();
        qCWarning(lcTransferImport) << "import stopped:" << store.lastError();
        outcome.text = next == 0 ? QStringLiteral("Nothing imported: ") + cause
                                 : ImportTexts::partialImport("Import stopped", next, total, saved)
                                           + QStringLiteral(": ") + cause;
        return outcome;
    }
    if (cancelled) {
        if (open)
            tasks->rollback();
        outcome.text = next == 0
                               ? QStringLiteral("Import cancelled: nothing imported")
                               : ImportTexts::partialImport("Import cancelled", next, total, saved);
        return outcome;
    }
    if (!read.error.isEmpty()) {
        outcome.text = QStringLiteral("Nothing imported: ") + read.error;
        return outcome;
    }
    QStringList notes;
    if (recoded > 0)
        notes << QStringLiteral("read as Windows-1252, not being UTF-8");
    if (!doubled.isEmpty())
        notes << ImportTexts::doubledUidsNote(doubled);
    outcome.ok = outcome.counts.ok = true;
    outcome.counts.skipped = read.skipped + int(doubled.size());
    outcome.text =
            QStringLiteral("Imported %1 tasks, updated %2, skipped %3")
                    .arg(saved.imported)
                    .arg(saved.updated)
                    .arg(outcome.counts.skipped)
            + (saved.kept > 0 ? QStringLiteral(", kept %1 newer here").arg(saved.kept) : QString())
            + ImportTexts::importNotes(read, notes);
    return outcome;
}
