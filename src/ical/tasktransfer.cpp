#include "tasktransfer.h"

#include "authservice.h"
#include "csvwriter.h"
#include "dbmanager.h"
#include "icalreader.h"
#include "icaltaskstore.h"
#include "icalwriter.h"
#include "sqlitebusy.h"
#include "taskservice.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QUuid>

Q_LOGGING_CATEGORY(lcTaskTransfer, "tarvik.ical.transfer", QtCriticalMsg)

namespace {

// Larger files are refused before they are read: no task list comes near.
constexpr qint64 kMaxImportBytes = 256 * 1024 * 1024;

// Why a transaction on the tasks failed, after "Nothing imported: " or "Nothing exported: ".
// The statement that found the file locked waited once for the other program; nothing else is
// tried after it.
QString failure(const IcalTaskStore &store, const QSqlDatabase &database, bool committing,
                const char *what)
{
    const bool inUse = committing ? SqliteBusy::lockedOut(database.lastError()) : store.lockedOut();
    return inUse ? QStringLiteral("the task file is in use by another program")
                 : QStringLiteral("the tasks could not be %1").arg(QLatin1String(what));
}

QString localPath(const QUrl &file)
{
    return file.isLocalFile() ? file.toLocalFile() : file.toString();
}

// The notes an import adds to its counts, for what it could not take as it stood.
QString importNotes(const IcalReadResult &read)
{
    QStringList notes;
    if (read.dateOnly > 0)
        notes << QStringLiteral("%1 due dates without a time set to 23:59 local time")
                         .arg(read.dateOnly);
    if (read.unknownZones > 0)
        notes << QStringLiteral("%1 due times in an unknown time zone read as local time")
                         .arg(read.unknownZones);
    if (read.shortened > 0)
        notes << QStringLiteral("%1 names shortened to %2 characters")
                         .arg(read.shortened)
                         .arg(IcalReader::maxNameLength);
    return notes.isEmpty() ? QString()
                           : QStringLiteral(" (") + notes.join(QStringLiteral("; ")) + u')';
}

} // namespace

TaskTransfer::TaskTransfer(DbManager *db, AuthService *auth, TaskService *tasks, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_auth(auth)
    , m_tasks(tasks)
{
}

void TaskTransfer::setResultText(const QString &text)
{
    if (text == m_resultText)
        return;
    m_resultText = text;
    emit resultTextChanged();
}

void TaskTransfer::clearResult()
{
    setResultText(QString());
}

bool TaskTransfer::ready()
{
    if (m_db && m_db->database().isOpen() && m_auth && m_auth->isLoggedIn())
        return true;
    setResultText(QStringLiteral("Sign in to import or export tasks"));
    return false;
}

TaskTransfer::ImportCounts TaskTransfer::importCalendar(const QByteArray &data)
{
    ImportCounts counts;
    if (!ready())
        return counts;
    IcalReadResult read = IcalReader::read(data);
    if (!read.error.isEmpty()) {
        setResultText(QStringLiteral("Nothing imported: ") + read.error);
        return counts;
    }

    QSqlDatabase database = m_db->database();
    IcalTaskStore store(database);
    const qint64 userId = m_auth->userId();
    bool ok = database.transaction() && store.prepare();
    for (IcalTask &task : read.tasks) {
        if (!ok)
            break;
        task.id = store.findTask(userId, task.uid);
        if (task.id > 0) {
            ok = store.updateTask(userId, task);
            ++counts.updated;
        } else {
            ok = task.id == 0 && store.insertTask(userId, task);
            ++counts.imported;
        }
    }
    const bool committing = ok;
    ok = ok && database.commit();
    if (!ok) {
        database.rollback();
        qCWarning(lcTaskTransfer) << "import rolled back:" << store.lastError();
        setResultText(QStringLiteral("Nothing imported: ")
                      + failure(store, database, committing, "saved"));
        return ImportCounts();
    }
    counts.ok = true;
    counts.skipped = read.skipped;
    setResultText(QStringLiteral("Imported %1 tasks, updated %2, skipped %3")
                          .arg(counts.imported)
                          .arg(counts.updated)
                          .arg(counts.skipped)
                  + importNotes(read));
    if (m_tasks)
        m_tasks->loadPage(m_tasks->currentPage());
    emit tasksImported();
    return counts;
}

// The account's tasks; with assignUids, every task without a UID gets one, stored at once so
// that a file written with it is recognised when it comes back.
bool TaskTransfer::readTasks(bool assignUids, QList<IcalTask> &tasks)
{
    if (!ready())
        return false;
    QSqlDatabase database = m_db->database();
    IcalTaskStore store(database);
    const qint64 userId = m_auth->userId();
    bool ok = database.transaction() && store.prepare() && store.readTasks(userId, tasks);
    for (IcalTask &task : tasks) {
        if (!ok || !assignUids)
            break;
        if (task.uid.isEmpty()) {
            task.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
            ok = store.storeUid(userId, task);
        }
    }
    const bool committing = ok;
    ok = ok && database.commit();
    if (!ok) {
        database.rollback();
        qCWarning(lcTaskTransfer) << "cannot read the tasks:" << store.lastError();
        setResultText(QStringLiteral("Nothing exported: ")
                      + failure(store, database, committing, "read"));
    }
    return ok;
}

QByteArray TaskTransfer::exportCalendar(qsizetype *count)
{
    QList<IcalTask> tasks;
    if (!readTasks(true, tasks))
        return {};
    if (count)
        *count = tasks.size();
    return IcalWriter::write(tasks, QDateTime::currentDateTimeUtc());
}

QByteArray TaskTransfer::exportCsv(qsizetype *count)
{
    QList<IcalTask> tasks;
    if (!readTasks(false, tasks))
        return {};
    if (count)
        *count = tasks.size();
    return CsvWriter::write(tasks);
}

bool TaskTransfer::exportTasks(const QUrl &file)
{
    QString path = localPath(file);
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".ics");
    const bool csv =
            QFileInfo(path).suffix().compare(QStringLiteral("csv"), Qt::CaseInsensitive) == 0;
    qsizetype count = 0;
    const QByteArray text = csv ? exportCsv(&count) : exportCalendar(&count);
    if (text.isEmpty())
        return false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size() || !out.commit()) {
        qCWarning(lcTaskTransfer) << "cannot write" << path << out.errorString();
        setResultText(QStringLiteral("Could not write %1: %2").arg(path, out.errorString()));
        return false;
    }
    setResultText(
            QStringLiteral("Exported %1 tasks to %2").arg(count).arg(QFileInfo(path).fileName()));
    return true;
}

bool TaskTransfer::importTasks(const QUrl &file)
{
    const QString path = localPath(file);
    QFile in(path);
    if (!QFileInfo(path).isFile() || !in.open(QIODevice::ReadOnly)) {
        setResultText(QStringLiteral("Could not read %1: %2")
                              .arg(path, QFileInfo(path).isFile() ? in.errorString()
                                                                  : QStringLiteral("not a file")));
        return false;
    }
    const QByteArray data = in.read(kMaxImportBytes + 1);
    if (data.size() > kMaxImportBytes) {
        setResultText(QStringLiteral("Nothing imported: %1 is larger than %2 MB")
                              .arg(path)
                              .arg(kMaxImportBytes / (1024 * 1024)));
        return false;
    }
    return importCalendar(data).ok;
}
