#pragma once

#include "taskstore.h"

#include <QObject>
#include <QSqlDatabase>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class SyncStore;

// The sync's writes to the task file, made on a thread of their own over a connection of their
// own to the same file, so that no commit (each waits for the disk) and no batch of writes holds
// up the thread the window runs on. One job at a time: the engine waits for a job's end (then,
// run on its own thread) before it goes on. The tasks a job's commits wrote are announced on the
// engine's thread by the window's task store (committed), as its own writes would be. A file
// held only in memory cannot be opened twice: its jobs run on the engine's thread, through the
// engine's own store.
class SyncWriter : public QObject
{
    Q_OBJECT

public:
    using Job = std::function<void(SyncStore &store)>;

    // local: the engine's store, for a file that cannot be opened a second time.
    SyncWriter(const QSqlDatabase &db, SyncStore *local, QObject *parent = nullptr);
    ~SyncWriter() override;

    // Runs job, then then on this object's thread, unless cancelled meanwhile.
    void run(Job job, std::function<void()> then);
    // Asks the job running to stop at its next task; it rolls back what it has not committed.
    void cancel() { m_cancelled = true; }
    bool cancelled() const { return m_cancelled; }
    // Blocks until no job runs.
    void wait();

signals:
    // A transaction of a job committed these task writes.
    void committed(const TaskChanges &changes);

private:
    class Worker;

    void startThread();
    void finishJob();

    SyncStore *m_local = nullptr;
    QSqlDatabase m_db; // the engine's connection, whose file the writer opens again
    bool m_started = false;
    std::atomic<bool> m_cancelled { false };
    std::mutex m_mutex;
    std::condition_variable m_idle;
    bool m_running = false;
    quint64 m_jobs = 0; // counts the jobs run, so that a cancelled job's then is dropped
    QThread m_thread;
    Worker *m_worker = nullptr; // lives on m_thread
};
