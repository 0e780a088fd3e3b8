// The import of an iCalendar file: the file is read, then its tasks are saved a batch per
// transaction.
#include "transferwork.h"

#include "icalreader.h"
#include "icaltaskstore.h"
#include "icalzonestore.h"
#include "importtexts.h"
#include "searchbatch.h"

#include <QLoggingCategory>

#include <deque>
#include <optional>

Q_LOGGING_CATEGORY(lcTransferImport, "tarvik.ical.import", QtCriticalMsg)

namespace {

// The share of an import that reading the file stands for, in thousandths; the rest is saving.
constexpr int kReadShare = 500;

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

// A file read before its tasks are saved, its tasks in slices. Read on a thread of its own beside
// the saving, the import of 100,000 tasks made the window's event loop wait up to hundreds of
// milliseconds now and then, for a small gain: the saving takes the longer part.
class FileReader
{
public:
    FileReader(const QByteArray &text, qsizetype slice, TransferProgress *progress)
    {
        m_result = IcalReader::readInSlices(
                text, slice,
                [this](IcalReadSlice &&tasks) {
                    m_slices.push_back(std::move(tasks));
                    return true;
                },
                [progress](qsizetype done, qsizetype total) {
                    return !progress || progress->step(done, total, 0, kReadShare);
                });
    }

    // The next slice; ended when there is none.
    std::optional<IcalReadSlice> pop(bool &ended)
    {
        ended = m_slices.empty();
        if (ended)
            return std::nullopt;
        std::optional<IcalReadSlice> slice(std::move(m_slices.front()));
        m_slices.pop_front();
        return slice;
    }
    const IcalReadResult &result() const { return m_result; }

private:
    std::deque<IcalReadSlice> m_slices;
    IcalReadResult m_result;
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
        std::optional<IcalReadSlice> slice = reader.pop(ended);
        const qint64 done = kReadShare + (total > 0 ? (1000 - kReadShare) * next / total : 0);
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
