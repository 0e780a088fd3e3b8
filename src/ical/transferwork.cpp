#include "transferwork.h"

#include "csvwriter.h"
#include "icalconvert.h"
#include "icalencoding.h"
#include "icalreader.h"
#include "icaltaskstore.h"
#include "icalwriter.h"
#include "icalzonestore.h"
#include "importtexts.h"
#include "searchbatch.h"
#include "sqlitebusy.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstring>

Q_LOGGING_CATEGORY(lcTransferWork, "tarvik.ical.transfer", QtCriticalMsg)

namespace {

// Larger files are refused before they are read: no task list comes near.
constexpr qint64 kMaxImportBytes = 256 * 1024 * 1024;
// Tasks written to an export file at a time, between two looks at Cancel.
constexpr qsizetype kExportSlice = 2000;
// The share of an import that reading the file stands for, in thousandths; the rest is saving.
constexpr int kReadShare = 500;
// The share of an export that reading the tasks stands for; the rest is writing the file.
constexpr int kExportReadShare = 200;
// The page cache of a transfer's own connection, in KiB.
constexpr int kCacheKiB = 32 * 1024;

// Why a transaction on the tasks failed, after "Nothing imported: " or "Nothing exported: ".
// The statement that found the file locked waited once for the other program; nothing else is
// tried after it.
QString failure(const IcalTaskStore &store, const TaskStore &tasks, bool committing,
                const char *what)
{
    const bool inUse = tasks.beginLockedOut()
                       || (committing ? SqliteBusy::lockedOut(tasks.database().lastError())
                                      : store.lockedOut());
    return inUse ? QStringLiteral("the task file is in use by another program")
                 : QStringLiteral("the tasks could not be %1").arg(QLatin1String(what));
}

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

// The reason a file could not be written, as the system gives it.
QString writeError(const QSaveFile &file, int cause)
{
    QString reason = file.errorString();
    if (cause != 0 && (reason.isEmpty() || reason == QLatin1String("Unknown error")))
        reason = QString::fromLocal8Bit(std::strerror(cause));
    return reason;
}

} // namespace

bool TransferProgress::step(qint64 done, qint64 total, int from, int to)
{
    const qint64 share = total > 0 ? (to - from) * std::min(done, total) / total : 0;
    m_permille = from + int(share);
    return !m_cancelled;
}

TransferOutcome TransferWork::importCalendar(TaskStore *tasks, qint64 userId,
                                             const QByteArray &data, TransferProgress *progress,
                                             qsizetype batch)
{
    TransferOutcome outcome;
    qsizetype recoded = 0;
    IcalReader::Progress reading;
    if (progress)
        reading = [progress](qsizetype done, qsizetype total) {
            return progress->step(done, total, 0, kReadShare);
        };
    IcalReadResult read = IcalReader::read(
            QUtf8StringView(data).isValidUtf8() ? data : ImportTexts::asUtf8(data, &recoded),
            IcalReader::Mode::File, reading);
    if (read.cancelled) {
        outcome.text = QStringLiteral("Import cancelled: nothing imported");
        return outcome;
    }
    if (!read.error.isEmpty()) {
        outcome.text = QStringLiteral("Nothing imported: ") + read.error;
        return outcome;
    }
    QStringList notes;
    if (recoded > 0)
        notes << QStringLiteral("read as Windows-1252, not being UTF-8");
    int doubled = 0;
    const QString doubledNote = ImportTexts::dropDoubledUids(read.tasks, doubled);
    if (!doubledNote.isEmpty())
        notes << doubledNote;

    const QMetaObject::Connection collecting =
            QObject::connect(tasks, &TaskStore::tasksChanged,
                             [&outcome](const TaskChanges &changes, TaskStore::Origin origin) {
                                 if (origin == TaskStore::Origin::Import)
                                     merge(outcome.changes, changes);
                             });
    IcalTaskStore store(tasks);
    const qsizetype total = read.tasks.size();
    const qsizetype perTransaction = batch > 0 ? batch : std::max<qsizetype>(total, 1);
    ImportCounts saved; // as of the last commit
    qsizetype next = 0;
    bool ok = true;
    bool committing = false;
    bool prepared = false;
    bool cancelled = false;
    // An empty file still takes one transaction, which finds a file another program holds.
    do {
        if (progress && !progress->step(next, total, kReadShare, 1000)) {
            cancelled = true;
            break;
        }
        ok = tasks->transaction(true) && (prepared || (prepared = store.prepare()))
             && store.beginInserts(userId);
        // The record of what the import writes, for its undo, goes in the same transactions.
        const qint64 importId =
                outcome.importId > 0 || !ok ? outcome.importId : tasks->beginImport(userId);
        ok = ok && importId > 0;
        SearchIndexBatch search(tasks->database());
        ok = ok && search.begin();
        // The zones the file's tasks use come with the first of them.
        QString zoneError;
        if (ok && next == 0
            && !IcalZoneStore::store(tasks->database(), userId, read.zones, zoneError)) {
            qCWarning(lcTransferWork) << "cannot keep the time zones:" << zoneError;
            ok = false;
        }
        ImportCounts counts = saved;
        const qsizetype end = std::min(total, next + perTransaction);
        QList<IcalTask *> fresh; // new here, stored together at the end of the batch
        for (qsizetype i = next; ok && i < end; ++i) {
            IcalTask &task = read.tasks[i];
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
        committing = ok;
        ok = ok && tasks->commit();
        if (!ok)
            break;
        outcome.importId = importId;
        saved = counts;
        next = end;
    } while (next < total);
    QObject::disconnect(collecting);

    if (!ok) {
        const QString cause = failure(store, *tasks, committing, "saved");
        tasks->rollback();
        qCWarning(lcTransferWork) << "import stopped:" << store.lastError();
        outcome.counts = saved;
        outcome.text = next == 0 ? QStringLiteral("Nothing imported: ") + cause
                                 : ImportTexts::partialImport("Import stopped", next, total, saved)
                                           + QStringLiteral(": ") + cause;
        return outcome;
    }
    outcome.counts = saved;
    if (cancelled) {
        outcome.text = next == 0
                               ? QStringLiteral("Import cancelled: nothing imported")
                               : ImportTexts::partialImport("Import cancelled", next, total, saved);
        return outcome;
    }
    outcome.ok = outcome.counts.ok = true;
    outcome.counts.skipped = read.skipped + doubled;
    outcome.text =
            QStringLiteral("Imported %1 tasks, updated %2, skipped %3")
                    .arg(saved.imported)
                    .arg(saved.updated)
                    .arg(outcome.counts.skipped)
            + (saved.kept > 0 ? QStringLiteral(", kept %1 newer here").arg(saved.kept) : QString())
            + ImportTexts::importNotes(read, notes);
    return outcome;
}

TransferOutcome TransferWork::importFile(TaskStore *tasks, qint64 userId, const QString &path,
                                         TransferProgress *progress, qsizetype batch)
{
    TransferOutcome outcome;
    QFile in(path);
    if (!QFileInfo(path).isFile() || !in.open(QIODevice::ReadOnly)) {
        outcome.text = QStringLiteral("Could not read %1: %2")
                               .arg(path, QFileInfo(path).isFile() ? in.errorString()
                                                                   : QStringLiteral("not a file"));
        return outcome;
    }
    const QByteArray data = in.read(kMaxImportBytes + 1);
    if (data.size() > kMaxImportBytes) {
        outcome.text = QStringLiteral("Nothing imported: %1 is larger than %2 MB")
                               .arg(path)
                               .arg(kMaxImportBytes / (1024 * 1024));
        return outcome;
    }
    return importCalendar(tasks, userId, data, progress, batch);
}

bool TransferWork::readTasks(TaskStore *tasks, qint64 userId, bool assignUids,
                             QList<IcalTask> &list, QString &error)
{
    IcalTaskStore store(tasks);
    bool ok = tasks->transaction() && store.prepare() && store.readTasks(userId, list);
    for (IcalTask &task : list) {
        if (!ok || !assignUids)
            break;
        if (task.uid.isEmpty()) {
            task.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
            ok = store.storeUid(userId, task);
        }
    }
    const bool committing = ok;
    ok = ok && tasks->commit();
    if (!ok) {
        error = failure(store, *tasks, committing, "read");
        tasks->rollback();
        qCWarning(lcTransferWork) << "cannot read the tasks:" << store.lastError();
    }
    return ok;
}

TransferOutcome TransferWork::exportFile(TaskStore *tasks, qint64 userId, const QString &path,
                                         TransferProgress *progress,
                                         std::optional<int> reminderLead)
{
    TransferOutcome outcome;
    const bool csv =
            QFileInfo(path).suffix().compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0;
    QList<IcalTask> list;
    QString error;
    if (!readTasks(tasks, userId, !csv, list, error)) {
        outcome.text = QStringLiteral("Nothing exported: ") + error;
        return outcome;
    }
    for (IcalTask &task : list) {
        if (!task.alarmLead)
            task.alarmLead = reminderLead;
    }
    QSaveFile file(path);
    auto put = [&file](const QByteArray &bytes) { return file.write(bytes) == bytes.size(); };
    const QDateTime stamp = QDateTime::currentDateTimeUtc();
    QSet<QByteArray> zones;
    // Unbuffered, so that a failing write says why (a full disk) rather than a later flush.
    errno = 0;
    bool written = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
                   && put(csv ? CsvWriter::header() : icalCalendarHeader());
    for (qsizetype from = 0; written && from < list.size(); from += kExportSlice) {
        if (progress && !progress->step(from, list.size(), kExportReadShare, 1000)) {
            file.cancelWriting();
            outcome.text = QStringLiteral("Export cancelled: nothing written");
            return outcome;
        }
        const qsizetype to = from + kExportSlice;
        written = put(csv ? CsvWriter::writeRows(list, from, to)
                          : IcalWriter::writeSlice(list, from, to, stamp, zones));
    }
    written = written && (csv || put(QByteArrayLiteral("END:VCALENDAR\r\n"))) && file.commit();
    if (!written) {
        const QString reason = writeError(file, errno);
        qCWarning(lcTransferWork) << "cannot write" << path << reason;
        outcome.text = QStringLiteral("Could not write %1: %2").arg(path, reason);
        return outcome;
    }
    outcome.ok = true;
    outcome.text = QStringLiteral("Exported %1 tasks to %2")
                           .arg(list.size())
                           .arg(QFileInfo(path).fileName());
    return outcome;
}

TransferOutcome
TransferWork::onOwnConnection(const QString &databaseName,
                              const std::function<TransferOutcome(TaskStore *)> &work)
{
    const QString name = QStringLiteral("transfer-") + QUuid::createUuid().toString();
    TransferOutcome outcome;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        database.setDatabaseName(databaseName);
        if (database.open()) {
            // A batch of imports changes pages all over the indexes: held in memory until its
            // commit rather than written out (and synced) while it is still being made; so are
            // the pages each statement may have to undo (its triggers touch a dozen), which
            // SQLite otherwise writes to a temporary file for every row.
            QSqlQuery pragma(database);
            pragma.exec(QStringLiteral("PRAGMA cache_size = -%1").arg(kCacheKiB));
            pragma.exec(QStringLiteral("PRAGMA temp_store = MEMORY"));
            TaskStore store(database);
            outcome = work(&store);
        } else {
            outcome.text =
                    QStringLiteral("Could not open the task file: ") + database.lastError().text();
        }
        database.close();
    }
    QSqlDatabase::removeDatabase(name);
    return outcome;
}
