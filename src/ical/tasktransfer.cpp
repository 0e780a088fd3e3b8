#include "tasktransfer.h"

#include "authservice.h"
#include "csvwriter.h"
#include "dbmanager.h"
#include "icalencoding.h"
#include "icalreader.h"
#include "icaltaskstore.h"
#include "icalwriter.h"
#include "sqlitebusy.h"
#include "taskstore.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>
#include <QSet>
#include <QUuid>

#include <cerrno>
#include <cstring>

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

// The text of a file that is not valid UTF-8 as it stands: unfolded, since a line may be folded
// inside a character, and read as Windows-1252 where it is not UTF-8 even then.
QByteArray asUtf8(const QByteArray &data, qsizetype *recoded)
{
    QByteArray unfolded = data;
    unfolded.replace("\r\n ", "").replace("\r\n\t", "").replace("\n ", "").replace("\n\t", "");
    if (QUtf8StringView(unfolded).isValidUtf8())
        return unfolded;
    return utf8FromWindows1252(unfolded, recoded);
}

// The notes an import adds to its counts, for what it could not take as it stood.
QString importNotes(const IcalReadResult &read, QStringList notes)
{
    if (read.dateOnly > 0)
        notes << QStringLiteral("%1 due dates without a time set to 23:59 local time")
                         .arg(read.dateOnly);
    if (read.unknownZones > 0)
        notes << QStringLiteral("%1 due times in an unknown time zone read as local time")
                         .arg(read.unknownZones);
    if (read.unreadable > 0)
        notes << QStringLiteral("%1 unreadable components left out, the first at %2")
                         .arg(read.unreadable)
                         .arg(read.firstUnreadable);
    if (read.dueDropped > 0)
        notes << QStringLiteral("%1 tasks without the due time they had, which cannot be read or "
                                "lies before year 1")
                         .arg(read.dueDropped);
    if (read.shortened > 0)
        notes << QStringLiteral("%1 names shortened to %2 characters")
                         .arg(read.shortened)
                         .arg(IcalReader::maxNameLength);
    return notes.isEmpty() ? QString()
                           : QStringLiteral(" (") + notes.join(QStringLiteral("; ")) + u')';
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

} // namespace

TaskTransfer::TaskTransfer(DbManager *db, AuthService *auth, TaskStore *store, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_auth(auth)
    , m_store(store)
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
    if (m_db && m_db->database().isOpen() && m_auth && m_auth->isLoggedIn() && m_store)
        return true;
    setResultText(QStringLiteral("Sign in to import or export tasks"));
    return false;
}

TaskTransfer::ImportCounts TaskTransfer::importCalendar(const QByteArray &data)
{
    ImportCounts counts;
    if (!ready())
        return counts;
    qsizetype recoded = 0;
    IcalReadResult read =
            IcalReader::read(QUtf8StringView(data).isValidUtf8() ? data : asUtf8(data, &recoded));
    if (!read.error.isEmpty()) {
        setResultText(QStringLiteral("Nothing imported: ") + read.error);
        return counts;
    }
    QStringList notes;
    if (recoded > 0)
        notes << QStringLiteral("read as Windows-1252, not being UTF-8");
    // A UID stands for one task: a later VTODO with the UID of an earlier one is left out, and
    // named, rather than made to overwrite it.
    QSet<QString> uids;
    QStringList doubled;
    read.tasks.removeIf([&](const IcalTask &task) {
        if (!uids.contains(task.uid)) {
            uids.insert(task.uid);
            return false;
        }
        doubled << task.name;
        return true;
    });
    if (!doubled.isEmpty())
        notes << QStringLiteral("%1 tasks left out for the UID of another task in the file, "
                                "the first \"%2\"")
                         .arg(doubled.size())
                         .arg(doubled.first().left(60));

    IcalTaskStore store(m_store);
    const qint64 userId = m_auth->userId();
    bool ok = m_store->transaction() && store.prepare();
    for (IcalTask &task : read.tasks) {
        if (!ok)
            break;
        const IcalTaskStore::Found here = store.findTask(userId, task.uid);
        task.id = here.id;
        if (task.id > 0 && newerHere(here, task)) {
            ++counts.kept;
        } else if (task.id > 0) {
            ok = store.updateTask(userId, task);
            ++counts.updated;
        } else {
            ok = task.id == 0 && store.insertTask(userId, task);
            ++counts.imported;
        }
    }
    const bool committing = ok;
    ok = ok && m_store->commit();
    if (!ok) {
        m_store->rollback();
        qCWarning(lcTaskTransfer) << "import rolled back:" << store.lastError();
        setResultText(QStringLiteral("Nothing imported: ")
                      + failure(store, m_store->database(), committing, "saved"));
        return ImportCounts();
    }
    counts.ok = true;
    counts.skipped = read.skipped + int(doubled.size());
    setResultText(QStringLiteral("Imported %1 tasks, updated %2, skipped %3")
                          .arg(counts.imported)
                          .arg(counts.updated)
                          .arg(counts.skipped)
                  + (counts.kept > 0 ? QStringLiteral(", kept %1 newer here").arg(counts.kept)
                                     : QString())
                  + importNotes(read, notes));
    emit tasksImported();
    return counts;
}

// The account's tasks; with assignUids, every task without a UID gets one, stored at once so
// that a file written with it is recognised when it comes back.
bool TaskTransfer::readTasks(bool assignUids, QList<IcalTask> &tasks)
{
    if (!ready())
        return false;
    IcalTaskStore store(m_store);
    const qint64 userId = m_auth->userId();
    bool ok = m_store->transaction() && store.prepare() && store.readTasks(userId, tasks);
    for (IcalTask &task : tasks) {
        if (!ok || !assignUids)
            break;
        if (task.uid.isEmpty()) {
            task.uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
            ok = store.storeUid(userId, task);
        }
    }
    const bool committing = ok;
    ok = ok && m_store->commit();
    if (!ok) {
        m_store->rollback();
        qCWarning(lcTaskTransfer) << "cannot read the tasks:" << store.lastError();
        setResultText(QStringLiteral("Nothing exported: ")
                      + failure(store, m_store->database(), committing, "read"));
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
    // Unbuffered, so that a failing write says why (a full disk) rather than a later flush.
    errno = 0;
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || out.write(text) != text.size()
        || !out.commit()) {
        const int cause = errno;
        QString reason = out.errorString();
        if (cause != 0 && (reason.isEmpty() || reason == QLatin1String("Unknown error")))
            reason = QString::fromLocal8Bit(std::strerror(cause));
        qCWarning(lcTaskTransfer) << "cannot write" << path << reason;
        setResultText(QStringLiteral("Could not write %1: %2").arg(path, reason));
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
