// The export of an account's tasks to a file: the tasks are read a slice at a time, and the text
// of each slice is made on other threads while the next is read, then written in the tasks'
// order. No more tasks are held than two slices.
#include "transferwork.h"

#include "csvwriter.h"
#include "icalconvert.h"
#include "icaltaskstore.h"
#include "icalwriter.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QSqlQuery>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <future>

Q_LOGGING_CATEGORY(lcTransferExport, "tarvik.ical.export", QtCriticalMsg)

namespace {

// Tasks read, made into text and written at a time, between two looks at Cancel.
constexpr qsizetype kExportSlice = 2000;

// What the result says when the file could not be written, with the reason the system gives.
QString writeError(const QSaveFile &file, const QString &path, int cause)
{
    QString reason = file.errorString();
    if (cause != 0 && (reason.isEmpty() || reason == QLatin1String("Unknown error")))
        reason = QString::fromLocal8Bit(std::strerror(cause));
    qCWarning(lcTransferExport) << "cannot write" << path << reason;
    return QStringLiteral("Could not write %1: %2").arg(path, reason);
}

// The account's tasks, for the progress.
qsizetype taskCount(const QSqlDatabase &database, qint64 userId)
{
    QSqlQuery query(database);
    query.prepare(QStringLiteral("SELECT COUNT(*) FROM tasks WHERE user_id = ?"));
    query.addBindValue(userId);
    return query.exec() && query.next() ? query.value(0).toLongLong() : 0;
}

} // namespace

TransferOutcome TransferWork::exportFile(TaskStore *tasks, qint64 userId, const QString &path,
                                         TransferProgress *progress,
                                         std::optional<int> reminderLead)
{
    TransferOutcome outcome;
    const bool csv =
            QFileInfo(path).suffix().compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0;
    IcalTaskStore store(tasks);
    QSaveFile file(path);
    int cause = 0; // errno of the first write that failed
    auto put = [&file, &cause](const QByteArray &bytes) {
        errno = 0;
        const bool ok = file.write(bytes) == bytes.size();
        if (!ok && cause == 0)
            cause = errno;
        return ok;
    };
    const QDateTime stamp = QDateTime::currentDateTimeUtc();
    QSet<QByteArray> zones; // those written so far
    QList<IcalTask> named; // tasks given a UID here, stored once they are all read
    qsizetype count = 0;
    bool cancelled = false;
    const bool began = tasks->transaction() && store.prepare();
    qsizetype total = -1;
    // Unbuffered, so that a failing write says why (a full disk) rather than a later flush.
    errno = 0;
    const bool opened = began && file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (began && !opened)
        cause = errno;
    bool written = opened && put(csv ? CsvWriter::header() : icalCalendarHeader());
    std::future<QByteArray> making; // the text of the slice before
    auto writeMade = [&] {
        if (making.valid())
            written = put(making.get()) && written;
    };
    auto take = [&](QList<IcalTask> &&slice) {
        // Counted once the reading holds the file, so that a file another program holds is
        // waited for once.
        if (total < 0)
            total = taskCount(tasks->database(), userId);
        if (progress && !progress->step(count, total, 0, 1000)) {
            cancelled = true;
            return false;
        }
        for (IcalTask &task : slice) {
            if (!task.alarmLead)
                task.alarmLead = reminderLead;
            // Stored with the task, so that the file is recognised when it comes back.
            if (!csv && task.uid.isEmpty()) {
                task.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
                named.append(task);
            }
        }
        count += slice.size();
        writeMade();
        if (!written)
            return false;
        making = std::async(std::launch::async, [csv, stamp, &zones, list = std::move(slice)] {
            return csv ? CsvWriter::writeRows(list, 0, list.size())
                       : IcalWriter::writeSlice(list, 0, list.size(), stamp, zones);
        });
        return true;
    };
    const bool read = began && (!written || store.readTasks(userId, kExportSlice, take));
    writeMade();
    bool ok = read && written && !cancelled;
    for (const IcalTask &task : std::as_const(named)) {
        if (!ok)
            break;
        ok = store.storeUid(userId, task);
    }
    const bool committing = ok;
    ok = ok && tasks->commit();
    if (!ok) {
        if (cancelled) {
            outcome.text = QStringLiteral("Export cancelled: nothing written");
        } else if (read && !written) {
            outcome.text = writeError(file, path, cause);
        } else {
            qCWarning(lcTransferExport) << "cannot read the tasks:" << store.lastError();
            outcome.text = QStringLiteral("Nothing exported: ")
                           + failure(store, *tasks, committing, "read");
        }
        tasks->rollback();
        file.cancelWriting();
        return outcome;
    }
    written = csv || put(QByteArrayLiteral("END:VCALENDAR\r\n"));
    errno = 0;
    if (written && !file.commit()) {
        written = false;
        cause = errno;
    }
    if (!written) {
        outcome.text = writeError(file, path, cause);
        return outcome;
    }
    outcome.ok = true;
    outcome.text =
            QStringLiteral("Exported %1 tasks to %2").arg(count).arg(QFileInfo(path).fileName());
    return outcome;
}
