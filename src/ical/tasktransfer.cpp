#include "tasktransfer.h"

#include "authservice.h"
#include "csvwriter.h"
#include "dbmanager.h"
#include "icalwriter.h"
#include "taskstore.h"

#include <QFileInfo>
#include <QThread>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <utility>

namespace {

// How often the window looks how far a running transfer has come.
constexpr int kProgressPollMs = 100;

QString localPath(const QUrl &file)
{
    return file.isLocalFile() ? file.toLocalFile() : file.toString();
}

// Gives the calling thread the scheduler's lower priority, so that the window's thread of the
// same process comes first when both want the processor. QThread::LowPriority means nothing to
// Linux's normal scheduling; a nice value there applies to one thread.
void yieldToTheWindow()
{
#ifdef Q_OS_LINUX
    constexpr int kNice = 10;
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), kNice);
#endif
}

// The file an export writes: a name without a suffix gets ".ics".
QString exportPath(const QUrl &file)
{
    QString path = localPath(file);
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".ics");
    return path;
}

} // namespace

// A transfer running on its thread: what it shares with the window.
struct TaskTransfer::Job
{
    TransferProgress progress;
    TransferOutcome outcome; // written by the thread, read once it finished
    bool import = false;
    qint64 userId = -1;
};

TaskTransfer::TaskTransfer(DbManager *db, AuthService *auth, TaskStore *store, QObject *parent)
    : QObject(parent)
    , m_db(db)
    , m_auth(auth)
    , m_store(store)
{
    m_poll.setInterval(kProgressPollMs);
    connect(&m_poll, &QTimer::timeout, this, &TaskTransfer::showProgress);
    // The account's transfer is not left running for whoever signs in next.
    if (m_auth)
        connect(m_auth, &AuthService::loggedOut, this, &TaskTransfer::cancel);
}

// A transfer still running stops; what an import saved so far stays.
TaskTransfer::~TaskTransfer()
{
    if (!m_thread)
        return;
    m_job->progress.cancel();
    m_thread->wait();
    delete m_thread;
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
    if (!m_job)
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
    if (!ready())
        return ImportCounts();
    const TransferOutcome outcome = TransferWork::importCalendar(m_store, m_auth->userId(), data);
    setResultText(outcome.text);
    importEnded(m_auth->userId(), outcome);
    return outcome.counts;
}

bool TaskTransfer::readTasks(bool assignUids, QList<IcalTask> &tasks)
{
    if (!ready())
        return false;
    QString error;
    if (TransferWork::readTasks(m_store, m_auth->userId(), assignUids, tasks, error))
        return true;
    setResultText(QStringLiteral("Nothing exported: ") + error);
    return false;
}

QByteArray TaskTransfer::exportCalendar(qsizetype *count)
{
    QList<IcalTask> tasks;
    if (!readTasks(true, tasks))
        return {};
    if (count)
        *count = tasks.size();
    for (IcalTask &task : tasks)
        task.alarmLead = task.alarmLead ? task.alarmLead : m_reminderLead;
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
    if (!ready())
        return false;
    const TransferOutcome outcome = TransferWork::exportFile(
            m_store, m_auth->userId(), exportPath(file), nullptr, m_reminderLead);
    setResultText(outcome.text);
    return outcome.ok;
}

bool TaskTransfer::importTasks(const QUrl &file)
{
    if (!ready())
        return false;
    const TransferOutcome outcome =
            TransferWork::importFile(m_store, m_auth->userId(), localPath(file));
    setResultText(outcome.text);
    importEnded(m_auth->userId(), outcome);
    return outcome.ok;
}

bool TaskTransfer::startExport(const QUrl &file)
{
    return start(false, file);
}

bool TaskTransfer::startImport(const QUrl &file)
{
    return start(true, file);
}

bool TaskTransfer::start(bool import, const QUrl &file)
{
    if (m_job || !ready())
        return false;
    const QString databaseName = m_store->database().databaseName();
    // A database in memory is this connection's alone: the work is done here.
    if (databaseName.isEmpty() || databaseName.startsWith(QLatin1String(":memory:"))
        || databaseName.contains(QLatin1String("mode=memory")))
        return import ? importTasks(file) : exportTasks(file);

    auto job = std::make_shared<Job>();
    job->import = import;
    const qint64 userId = m_auth->userId();
    job->userId = userId;
    const QString path = import ? localPath(file) : exportPath(file);
    const std::optional<int> lead = m_reminderLead;
    m_thread = QThread::create([job, databaseName, userId, path, lead] {
        yieldToTheWindow();
        job->outcome = TransferWork::onOwnConnection(databaseName, [&](TaskStore *tasks) {
            return job->import
                           ? TransferWork::importFile(tasks, userId, path, &job->progress,
                                                      TransferWork::kBatchTasks)
                           : TransferWork::exportFile(tasks, userId, path, &job->progress, lead);
        });
    });
    m_job = job;
    connect(m_thread, &QThread::finished, this, &TaskTransfer::finishJob);
    m_progress = 0;
    emit progressChanged();
    setResultText(import ? QStringLiteral("Importing %1...").arg(QFileInfo(path).fileName())
                         : QStringLiteral("Exporting to %1...").arg(QFileInfo(path).fileName()));
    emit busyChanged();
    m_poll.start();
    m_thread->start(QThread::LowPriority);
    return true;
}

void TaskTransfer::cancel()
{
    if (!m_job || m_job->progress.cancelled())
        return;
    m_job->progress.cancel();
    setResultText(QStringLiteral("Cancelling..."));
}

void TaskTransfer::showProgress()
{
    if (!m_job)
        return;
    const double progress = m_job->progress.permille() / 1000.0;
    if (qFuzzyCompare(progress, m_progress))
        return;
    m_progress = progress;
    emit progressChanged();
}

void TaskTransfer::finishJob()
{
    m_poll.stop();
    m_thread->wait();
    m_thread->deleteLater();
    m_thread = nullptr;
    const std::shared_ptr<Job> job = std::exchange(m_job, nullptr);
    setResultText(job->outcome.text);
    emit busyChanged();
    // The thread's own store announced nothing the window hears: the tasks it saved are
    // announced here, as an import on the window's connection announces them.
    if (!job->outcome.changes.isEmpty())
        m_store->announceCommitted(job->outcome.changes, TaskStore::Origin::Import);
    if (job->import)
        importEnded(job->userId, job->outcome);
    emit finished(job->outcome.ok);
}

void TaskTransfer::importEnded(qint64 userId, const TransferOutcome &outcome)
{
    if (outcome.changes.isEmpty())
        return;
    emit tasksImported();
    const ImportCounts &counts = outcome.counts;
    if (outcome.importId > 0 && counts.imported + counts.updated > 0 && m_auth->isLoggedIn()
        && m_auth->userId() == userId)
        emit importSaved(userId, outcome.importId, counts.imported, counts.updated);
}
