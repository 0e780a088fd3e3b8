#include "transferwork.h"

#include "icaltaskstore.h"
#include "sqlitebusy.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <algorithm>

Q_LOGGING_CATEGORY(lcTransferWork, "tarvik.ical.transfer", QtCriticalMsg)

namespace {

// Larger files are refused before they are read: no task list comes near.
constexpr qint64 kMaxImportBytes = 256 * 1024 * 1024;
// The page cache of a transfer's own connection, in KiB.
constexpr int kCacheKiB = 32 * 1024;

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
    if (in.size() > kMaxImportBytes) {
        outcome.text = QStringLiteral("Nothing imported: %1 is larger than %2 MB")
                               .arg(path)
                               .arg(kMaxImportBytes / (1024 * 1024));
        return outcome;
    }
    return importCalendar(tasks, userId, &in, progress, batch);
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
