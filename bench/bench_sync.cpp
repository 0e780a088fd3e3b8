// The CalDAV sync of one account against the scripted server of the tests: the first sync of N
// tasks (down from the server, and up from here), and a pass with nothing changed on either
// side. Each figure comes with its wall-clock time and the longest time the event loop could
// not answer (a 5 ms timer, as the window probe measures the window), next to a floor measured
// in the same run.
#include "benchstats.h"
#include "fakecaldav.h"
#include "syncbenchdb.h"
#include "syncengine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocale>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <QScopeGuard>

#include <atomic>
#include <memory>

namespace {

// The scripted server answers on a thread of its own, so that what it costs to make an answer
// is not counted as the program's.
class ServerThread : public QObject, public CalDavTransport
{
public:
    explicit ServerThread(const QUrl &collection)
        : server(collection)
    {
    }
    ~ServerThread() override
    {
        m_thread.quit();
        m_thread.wait();
    }
    void run()
    {
        server.moveToThread(&m_thread);
        m_thread.start();
    }

    quint64 send(const DavRequest &request, Done done) override
    {
        const quint64 id = ++m_lastId;
        m_pending.insert(id);
        QMetaObject::invokeMethod(&server, [this, id, request, done]() {
            server.requests.clear();
            QElapsedTimer answering;
            answering.start();
            const auto count = qScopeGuard([&]() { busyNs += answering.nsecsElapsed(); });
            server.send(request, [this, id, done](const DavResponse &response) {
                QMetaObject::invokeMethod(this, [this, id, done, response]() {
                    if (m_pending.remove(id))
                        done(response);
                });
            });
        });
        return id;
    }
    void cancel(quint64 id) override { m_pending.remove(id); }

    FakeCalDav server;
    std::atomic<qint64> busyNs { 0 }; // the time the server spent making its answers

private:
    QThread m_thread;
    QSet<quint64> m_pending;
    quint64 m_lastId = 0;
};

const QUrl kCollection(QStringLiteral("https://dav.example/dav/tasks/"));

struct Pass
{
    double ms = 0;
    double serverMs = 0;
    double stallMs = 0;
    bool ok = false;
};

// One sync pass of account 1, timed, with the longest gap between two turns of the event loop.
Pass syncOnce(SyncEngine &engine, ServerThread &server)
{
    const qint64 serverBefore = server.busyNs;
    SyncAccount account;
    engine.store().loadAccount(1, account);
    QEventLoop loop;
    Pass pass;
    QObject::connect(&engine, &SyncEngine::finished, &loop, [&](SyncError error) {
        pass.ok = error == SyncError::None;
        loop.quit();
    });
    StallProbe probe(5, Qt::PreciseTimer);
    probe.start();
    engine.start(account, QStringLiteral("secret"));
    loop.exec();
    pass.ms = probe.elapsedMs();
    pass.stallMs = probe.stallToNow();
    pass.serverMs = double(server.busyNs - serverBefore) / 1e6;
    QObject::disconnect(&engine, &SyncEngine::finished, &loop, nullptr);
    return pass;
}

// The floor of a first sync here: the same number of tasks and their sync rows written by plain
// SQL in one transaction.
double writeFloor(const QString &path, int tasks)
{
    QSqlDatabase db = SyncBenchDb::make(path, 0);
    const double ms = timeMs([&]() {
        QSqlQuery task(db);
        QSqlQuery item(db);
        db.transaction();
        task.prepare(QStringLiteral("INSERT INTO tasks (user_id, name, active) VALUES (1, ?, 0)"));
        item.prepare(QStringLiteral("INSERT INTO sync_items (task_id, user_id, uid, href, etag, "
                                    "ical, synced, synced_name) VALUES (?, 1, ?, ?, ?, ?, 1, ?)"));
        for (int i = 0; i < tasks; ++i) {
            const QString name = QStringLiteral("Task number %1 of the list").arg(i);
            task.addBindValue(name);
            task.exec();
            item.addBindValue(task.lastInsertId());
            item.addBindValue(QStringLiteral("uid-%1").arg(i));
            item.addBindValue(QStringLiteral("/dav/tasks/uid-%1.ics").arg(i));
            item.addBindValue(QStringLiteral("\"v%1\"").arg(i));
            item.addBindValue(QStringLiteral("BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nSUMMARY:%1\r\n"
                                             "END:VTODO\r\nEND:VCALENDAR\r\n")
                                      .arg(name));
            item.addBindValue(name);
            item.exec();
        }
        db.commit();
    });
    SyncBenchDb::close(db);
    return ms;
}

struct Figures
{
    Samples down, downStall, up, upStall, idle, idleStall, floor, emptyIdle, emptyIdleStall;
};

// The first sync of `tasks` tasks from the server (down) or from here (up), then an idle pass.
void firstSync(const QString &path, int tasks, bool down, Figures &figures)
{
    QSqlDatabase db = SyncBenchDb::make(path, down ? 0 : tasks);
    ServerThread transport(kCollection);
    if (down) {
        for (int i = 0; i < tasks; ++i)
            transport.server.addTask(QStringLiteral("their-%1").arg(i),
                                     QStringLiteral("Their task number %1").arg(i));
    }
    transport.run();
    auto engine = std::make_unique<SyncEngine>(db, &transport);
    SyncAccount account;
    account.userId = 1;
    account.serverUrl = QStringLiteral("https://dav.example/");
    account.userName = QStringLiteral("sam");
    account.collectionUrl = kCollection.toString();
    engine->store().saveAccount(account);
    const Pass first = syncOnce(*engine, transport);
    (down ? figures.down : figures.up).add(first.ms);
    (down ? figures.downStall : figures.upStall).add(first.stallMs);
    if (!first.ok)
        qWarning("the first sync failed");
    if (down) {
        const Pass idle = syncOnce(*engine, transport);
        figures.idle.add(idle.ms - idle.serverMs);
        figures.idleStall.add(idle.stallMs);
    }
    engine.reset();
    SyncBenchDb::close(db);
}

void emptyIdle(const QString &path, Figures &figures)
{
    QSqlDatabase db = SyncBenchDb::make(path, 0);
    ServerThread transport(kCollection);
    transport.run();
    SyncEngine engine(db, &transport);
    SyncAccount account;
    account.userId = 1;
    account.serverUrl = QStringLiteral("https://dav.example/");
    account.userName = QStringLiteral("sam");
    account.collectionUrl = kCollection.toString();
    engine.store().saveAccount(account);
    syncOnce(engine, transport);
    const Pass idle = syncOnce(engine, transport);
    figures.emptyIdle.add(idle.ms - idle.serverMs);
    figures.emptyIdleStall.add(idle.stallMs);
    SyncBenchDb::close(db);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qRegisterMetaType<SyncError>();
    const int runs = positiveSetting("BENCH_SYNC_RUNS", 3);
    QList<int> sizes;
    for (const QString &size : qEnvironmentVariable("BENCH_SYNC_SIZES", QStringLiteral("10000"))
                                       .split(QLatin1Char(','), Qt::SkipEmptyParts))
        sizes << size.toInt();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sync.db"));
    QTextStream out(stdout);
    out << "\n## CalDAV sync against the scripted server (" << runs << " runs)\n\n";
    ResultTable table(out);
    table.header();
    QStringList goals;
    for (const int size : sizes) {
        Figures figures;
        // Subject and floors take turns within each run.
        for (int run = 0; run < runs; ++run) {
            figures.floor.add(writeFloor(path, size));
            firstSync(path, size, true, figures);
            emptyIdle(path, figures);
            firstSync(path, size, false, figures);
        }
        const QString n = QLocale::c().toString(size);
        const QString floor = QStringLiteral("tasks and sync rows by plain SQL");
        table.row(QStringLiteral("first sync down"), n, figures.down, floor, figures.floor,
                  QStringLiteral("report"), 1);
        table.row(QStringLiteral("first sync up"), n, figures.up, floor, figures.floor,
                  QStringLiteral("report"), 1);
        table.row(QStringLiteral("longest stall, first sync down"), n, figures.downStall,
                  QStringLiteral("idle pass of an empty account"), figures.emptyIdleStall,
                  QStringLiteral("<= 50 ms"), 1);
        table.row(QStringLiteral("longest stall, first sync up"), n, figures.upStall,
                  QStringLiteral("idle pass of an empty account"), figures.emptyIdleStall,
                  QStringLiteral("<= 50 ms"), 1);
        table.row(QStringLiteral("idle pass, less the server's own time"), n, figures.idle,
                  QStringLiteral("idle pass of an empty account"), figures.emptyIdle,
                  QStringLiteral("< 50 ms"), 2);
        table.row(QStringLiteral("longest stall, idle pass"), n, figures.idleStall,
                  QStringLiteral("idle pass of an empty account"), figures.emptyIdleStall,
                  QStringLiteral("no stall"), 2);
        const double stall = std::max(figures.downStall.median(), figures.upStall.median());
        goals << QStringLiteral("GOAL first-sync-stall at %1: %2 ms %3")
                         .arg(n, fixed(stall, 1), verdict(stall <= 50));
        goals << QStringLiteral("GOAL idle-pass at %1: %2 ms (%3 x floor), stall %4 ms %5")
                         .arg(n, fixed(figures.idle.median(), 2),
                              fixed(figures.idle.median() / figures.emptyIdle.median(), 2),
                              fixed(figures.idleStall.median(), 2),
                              verdict(figures.idle.median() < 50
                                      && figures.idleStall.median() <= 50));
    }
    out << "\n```\n" << goals.join(QLatin1Char('\n')) << "\n```\n";
    return 0;
}
