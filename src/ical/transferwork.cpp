#include "transferwork.h"

#include "csvwriter.h"
#include "icalconvert.h"
#include "icalencoding.h"
#include "icaltaskstore.h"
#include "icalwriter.h"
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
// The share of an export that reading the tasks stands for; the rest is writing the file.
constexpr int kExportReadShare = 200;
// The page cache of a transfer's own connection, in KiB.
constexpr int kCacheKiB = 32 * 1024;

// The reason a file could not be written, as the system gives it.
QString writeError(const QSaveFile &file, int cause)
{
    QString reason = file.errorString();
    if (cause != 0 && (reason.isEmpty() || reason == QLatin1String("Unknown error")))
        reason = QString::fromLocal8Bit(std::strerror(cause));
    return reason;
}

} // namespace

// Why a transaction on the tasks failed, after "Nothing imported: " or "Nothing exported: ".
// The statement that found the file locked waited once for the other program; nothing else is
// tried after it.
QString TransferWork::failure(const IcalTaskStore &store, const TaskStore &tasks, bool committing,
                              const char *what)
{
    const bool inUse = tasks.beginLockedOut()
                       || (committing ? SqliteBusy::lockedOut(tasks.database().lastError())
                                      : store.lockedOut());
    return inUse ? QStringLiteral("the task file is in use by another program")
                 : QStringLiteral("the tasks could not be %1").arg(QLatin1String(what));
}

bool TransferProgress::step(qint64 done, qint64 total, int from, int to)
{
    const qint64 share = total > 0 ? (to - from) * std::min(done, total) / total : 0;
    m_permille = from + int(share);
    return !m_cancelled;
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
        error = TransferWork::failure(store, *tasks, committing, "read");
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
