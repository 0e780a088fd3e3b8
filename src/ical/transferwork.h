#pragma once

#include "icaltask.h"
#include "taskstore.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

class IcalTaskStore;

// How far a transfer has come and whether the person asked it to stop, shared by the thread
// that does the work and the window's, which shows it.
class TransferProgress
{
public:
    void cancel() { m_cancelled = true; }
    bool cancelled() const { return m_cancelled; }
    // Thousandths of the whole work done.
    int permille() const { return m_permille; }
    // Notes that done of total steps of the part of the work between the thousandths from and
    // to are done; false when the transfer is to stop.
    bool step(qint64 done, qint64 total, int from, int to);

private:
    std::atomic<bool> m_cancelled { false };
    std::atomic<int> m_permille { 0 };
};

// What an import did; when ok is false it did not finish, and text says what it kept.
struct ImportCounts
{
    bool ok = false;
    int imported = 0;
    int updated = 0;
    int skipped = 0;
    int kept = 0; // tasks changed here since the file's version, left as they are
};

// What a transfer did, the words that say so, and the tasks it wrote (its store announced them).
struct TransferOutcome
{
    bool ok = false;
    ImportCounts counts;
    QString text;
    TaskChanges changes;
    // The task store's record of what an import saved, for its undo; 0 when it saved nothing.
    qint64 importId = 0;
};

// The work of the import and the export, on whichever connection and thread the task store
// given is at home: the window's, or one of a thread of its own.
namespace TransferWork {

// Tasks written per transaction by an import that runs beside the window: each commit is short,
// so the window's own reads wait for a moment at most, and a save made meanwhile waits for the
// transaction, about a quarter of a second. Each transaction changes pages all over the lists'
// indexes, and each changed page is journaled and written once per commit: at 100,000 tasks,
// 2,000 per transaction took a quarter less time than 1,000, and 5,000 4-10 % less again.
constexpr qsizetype kBatchTasks = 5000;

// Imports the VTODOs of an iCalendar file into the account, batch tasks per transaction (all
// in one when batch is 0). The file is read twice from its start, a piece at a time.
TransferOutcome importCalendar(TaskStore *tasks, qint64 userId, QIODevice *file,
                               TransferProgress *progress = nullptr, qsizetype batch = 0);
TransferOutcome importCalendar(TaskStore *tasks, qint64 userId, const QByteArray &data,
                               TransferProgress *progress = nullptr, qsizetype batch = 0);
TransferOutcome importFile(TaskStore *tasks, qint64 userId, const QString &path,
                           TransferProgress *progress = nullptr, qsizetype batch = 0);
// Writes the account's tasks to path, as CSV when it ends in ".csv", else as iCalendar; the
// file is replaced only when all of it was written. Tasks without a UID get one, stored first.
// An iCalendar file carries each task's reminder as an alarm: the task's own, else reminderLead
// minutes before its due time, else the alarms its kept text has.
TransferOutcome exportFile(TaskStore *tasks, qint64 userId, const QString &path,
                           TransferProgress *progress = nullptr,
                           std::optional<int> reminderLead = std::nullopt);
// The account's tasks; with assignUids every task without a UID gets one, stored at once so
// that a file written with it is recognised when it comes back. error says why not.
bool readTasks(TaskStore *tasks, qint64 userId, bool assignUids, QList<IcalTask> &list,
               QString &error);
// Why a transaction on the tasks failed, after "Nothing imported: " or "Nothing exported: ".
QString failure(const IcalTaskStore &store, const TaskStore &tasks, bool committing,
                const char *what);
// Runs work with a task store on a connection of its own to the database file, opened and
// closed on the calling thread.
TransferOutcome onOwnConnection(const QString &databaseName,
                                const std::function<TransferOutcome(TaskStore *)> &work);

} // namespace TransferWork
