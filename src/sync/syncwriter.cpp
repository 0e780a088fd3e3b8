#include "syncwriter.h"
#include "synclog.h"
#include "syncstore.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>

#include <algorithm>
#include <cerrno>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_LINUX
constexpr int kLowerBy = 5; // nice levels below the thread that starts the writer
#endif

bool inMemory(const QString &name)
{
    return name.isEmpty() || name == QLatin1String(":memory:")
           || name.contains(QLatin1String("mode=memory"))
           || name.startsWith(QLatin1String("file::memory:"));
}

} // namespace

// The connection and the store of the writer's thread, made there at the first job and closed
// there at the end.
class SyncWriter::Worker : public QObject
{
public:
    Worker(const QString &databaseName, const QString &options)
        : m_name(QStringLiteral("sync-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
        , m_databaseName(databaseName)
        , m_options(options)
    {
    }

    // The store on this thread's connection; null when the file cannot be opened.
    SyncStore *store(SyncWriter *writer)
    {
        if (m_store)
            return m_store.get();
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(m_databaseName);
        db.setConnectOptions(m_options);
        if (!db.open()) {
            qCWarning(lcSync) << "cannot open the task file for the sync:" << db.lastError().text();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_name);
            return nullptr;
        }
        // The pages a statement may have to undo (the triggers of a task touch a dozen) stay in
        // memory instead of a temporary file per statement.
        QSqlQuery(db).exec(QStringLiteral("PRAGMA temp_store = MEMORY"));
        m_store = std::make_unique<SyncStore>(db);
        QObject::connect(m_store->tasks(), &TaskStore::tasksChanged, this,
                         [writer](const TaskChanges &changes, TaskStore::Origin) {
                             QMetaObject::invokeMethod(
                                     writer,
                                     [writer, changes]() { emit writer->committed(changes); },
                                     Qt::QueuedConnection);
                         });
        return m_store.get();
    }

    void close()
    {
        if (!m_store)
            return;
        m_store.reset();
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }

private:
    QString m_name;
    QString m_databaseName;
    QString m_options;
    std::unique_ptr<SyncStore> m_store;
};

SyncWriter::SyncWriter(const QSqlDatabase &db, SyncStore *local, QObject *parent)
    : QObject(parent)
    , m_local(local)
    , m_db(db)
{
}

// The thread starts at the first job, once the file is open.
void SyncWriter::startThread()
{
    m_started = true;
    const QString name = m_db.databaseName();
    if (inMemory(name) || m_db.driverName() != QLatin1String("QSQLITE"))
        return;
    m_worker = new Worker(name, m_db.connectOptions());
    m_worker->moveToThread(&m_thread);
    m_thread.setObjectName(QStringLiteral("sync writer"));
    m_thread.start();
#ifdef Q_OS_LINUX
    // Below the window's thread: on a busy machine the window gets the processor first.
    QMetaObject::invokeMethod(m_worker, []() {
        const pid_t self = gettid();
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, self);
        if (errno == 0)
            setpriority(PRIO_PROCESS, self, std::min(nice + kLowerBy, 19));
    });
#endif
}

SyncWriter::~SyncWriter()
{
    cancel();
    wait();
    if (!m_worker)
        return;
    QMetaObject::invokeMethod(
            m_worker, [this]() { m_worker->close(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
    delete m_worker;
}

void SyncWriter::run(Job job, std::function<void()> then)
{
    wait();
    if (!m_started)
        startThread();
    m_cancelled = false;
    const quint64 number = ++m_jobs;
    auto finished = [this, number, then = std::move(then)]() {
        if (number == m_jobs && !m_cancelled)
            then();
    };
    if (!m_worker) {
        job(*m_local);
        QMetaObject::invokeMethod(this, finished, Qt::QueuedConnection);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = true;
    }
    QMetaObject::invokeMethod(m_worker, [this, job = std::move(job), finished]() {
        SyncStore *store = m_worker->store(this);
        if (store) {
            job(*store);
            store->forgetWritten();
        }
        finishJob();
        if (store) {
            QMetaObject::invokeMethod(this, finished, Qt::QueuedConnection);
            return;
        }
        // On the engine's connection and thread rather than not at all.
        QMetaObject::invokeMethod(
                this,
                [this, job, finished]() {
                    job(*m_local);
                    finished();
                },
                Qt::QueuedConnection);
    });
}

void SyncWriter::finishJob()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = false;
    m_idle.notify_all();
}

void SyncWriter::wait()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_idle.wait(lock, [this]() { return !m_running; });
}
