// The first upload of N tasks into an empty collection of a real CalDAV server (Radicale and
// Xandikos, as Debian ships them, started here on 127.0.0.1 and a free port), by this program's
// sync (engine, CalDAV client and network transport, as the program wires them) and by
// vdirsyncer (Debian's package) from a filesystem storage holding the very texts the program
// sent, one .ics per task. Each measurement gets a fresh empty collection of the same server;
// the two clients take turns within each run, and medians are compared. Both servers spend
// more on each task the more the list holds (Radicale looks for the UID among every item it
// holds, Xandikos commits a new tree of the whole list), so an upload costs the square of its
// size for any client: 1,000 tasks take minutes, 10,000 hours; the size is 1,000 by default.
#include "benchstats.h"
#include "caldavdiscovery.h"
#include "networktransport.h"
#include "radicaleserver.h"
#include "syncbenchdb.h"
#include "syncengine.h"
#include "xandikosserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// A server of the tests, run 10 nice levels below this program, so that on a busy machine the
// program's thread is not the one kept waiting for a processor; elsewhere the server is another
// machine's work.
template<typename Base> class BackgroundServer : public Base
{
public:
    bool start()
    {
        Base::m_process.setChildProcessModifier([]() { (void)::nice(10); });
        return Base::start();
    }
    qint64 pid() const { return Base::m_process.processId(); }
};

struct Server
{
    QString name;
    QUrl url;
    qint64 pid = 0;
};

// The program's transport, with the time some request of it was waiting for its answer.
class TimedTransport : public CalDavTransport
{
public:
    explicit TimedTransport(CalDavTransport *network)
        : m_network(network)
    {
        m_clock.start();
    }
    quint64 send(const DavRequest &request, Done done) override
    {
        if (m_inFlight++ == 0)
            m_since = m_clock.nsecsElapsed();
        ++requests;
        const qint64 sent = m_clock.nsecsElapsed();
        return m_network->send(
                request, [this, done, sent, method = request.method](const DavResponse &response) {
                    const qint64 took = m_clock.nsecsElapsed() - sent;
                    byMethod[method] += took;
                    longestOf[method] = std::max(longestOf[method], took);
                    settle();
                    done(response);
                });
    }
    void cancel(quint64 id) override
    {
        settle();
        m_network->cancel(id);
    }

    qint64 waitingNs = 0;
    int requests = 0;
    QHash<QByteArray, qint64> byMethod, longestOf; // each request's time, by its method

private:
    void settle()
    {
        if (--m_inFlight == 0)
            waitingNs += m_clock.nsecsElapsed() - m_since;
    }

    CalDavTransport *m_network;
    QElapsedTimer m_clock;
    int m_inFlight = 0;
    qint64 m_since = 0;
};

// Runs the event loop until done() says so, or at most timeout milliseconds.
bool waitFor(const std::function<bool()> &done, int timeout)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeout)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}

// A new, empty task list on the server, made as the settings make one.
QString newCollection(CalDavTransport *transport, const QUrl &server, int number)
{
    CalDavDiscovery discovery(transport);
    bool found = false;
    QString created;
    QObject::connect(&discovery, &CalDavDiscovery::finished, [&](SyncError error) {
        found = true;
        if (error == SyncError::None)
            discovery.createCollection(QStringLiteral("Bench %1").arg(number));
    });
    QObject::connect(&discovery, &CalDavDiscovery::collectionCreated,
                     [&](SyncError error, int, const QString &url) {
                         created = error == SyncError::None ? url : QStringLiteral("-");
                     });
    discovery.start(server, RadicaleServer::kUser, RadicaleServer::kPassword, false);
    waitFor([&]() { return !created.isEmpty(); }, 20000);
    return created == QStringLiteral("-") ? QString() : created;
}

// How many resources the collection holds, by a PROPFIND of depth 1.
int countResources(CalDavTransport *transport, const QUrl &server, const QString &collection)
{
    CalDavClient client(transport);
    client.setOrigin(server);
    client.setCredentials(RadicaleServer::kUser, RadicaleServer::kPassword);
    int count = -1;
    client.propfind(QUrl(collection), 1, "<d:getetag/><d:resourcetype/>",
                    [&](const DavReply &reply) {
                        const DavMultistatus listing = parseMultistatus(reply.body, reply.url);
                        count = 0;
                        for (const DavResource &resource : listing.resources)
                            count += resource.isCollection || resource.etag.isEmpty() ? 0 : 1;
                    });
    waitFor([&]() { return count >= 0; }, 120000);
    return count;
}

struct Pass
{
    double ms = 0;
    double stallMs = 0;
    double cpuMs = 0; // the client's own processor time, its threads together
    double waitingMs = 0; // some request waited for its answer
    int requests = 0;
    bool ok = false;
};

// Processor time (user and system) of this process, or of its children waited for, in ms.
double cpuMs(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    const auto ms = [](const timeval &time) {
        return double(time.tv_sec) * 1e3 + double(time.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// Processor time (user and system, every thread's, ended ones too) of the server process, in ms:
// the work a client's requests cost it, whatever else the machine ran meanwhile.
double serverCpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // The fields after the command's name, which may hold spaces: state is field 3, utime 14.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return double(fields.at(11).toLongLong() + fields.at(12).toLongLong()) * 1e3
           / double(sysconf(_SC_CLK_TCK));
}

// This program's first sync of an account of `tasks` tasks into the collection, timed, with the
// longest gap of a 5 ms timer on the engine's thread (as bench_sync measures it). texts, when
// given, gets the UID and text of each task as the server took it.
Pass programUpload(const QString &path, int tasks, const Server &server, const QString &collection,
                   CalDavTransport *transport, QHash<QString, QByteArray> *texts)
{
    QSqlDatabase db = SyncBenchDb::make(path, tasks);
    Pass pass;
    {
        TimedTransport timed(transport);
        SyncEngine engine(db, &timed);
        SyncAccount account;
        account.userId = 1;
        account.serverUrl = server.url.toString();
        account.userName = RadicaleServer::kUser;
        account.collectionUrl = collection;
        engine.store().saveAccount(account);
        engine.store().loadAccount(1, account);
        bool finished = false;
        QObject::connect(&engine, &SyncEngine::finished, [&](SyncError error) {
            pass.ok = error == SyncError::None;
            finished = true;
        });
        StallProbe probe(5, Qt::PreciseTimer);
        QEventLoop loop;
        QObject::connect(&engine, &SyncEngine::finished, &loop, &QEventLoop::quit);
        const double cpuBefore = cpuMs(RUSAGE_SELF);
        probe.start();
        engine.start(account, RadicaleServer::kPassword);
        if (!finished)
            loop.exec();
        const double ms = probe.elapsedMs();
        const double stallMs = probe.stallToNow();
        pass.cpuMs = cpuMs(RUSAGE_SELF) - cpuBefore;
        pass.waitingMs = double(timed.waitingNs) / 1e6;
        pass.requests = timed.requests;
        if (qEnvironmentVariableIsSet("BENCH_PEER_VERBOSE")) {
            for (auto m = timed.byMethod.cbegin(); m != timed.byMethod.cend(); ++m)
                qInfo("  %s: %.0f ms, longest %.0f ms", m.key().constData(), m.value() / 1e6,
                      timed.longestOf.value(m.key()) / 1e6);
        }
        pass.ms = ms;
        pass.stallMs = stallMs;
    }
    QSqlQuery query(db);
    query.exec(QStringLiteral("SELECT uid, ical FROM sync_items WHERE user_id = 1 AND synced = 1 "
                              "AND etag <> ''"));
    int recorded = 0;
    while (query.next()) {
        ++recorded;
        if (texts)
            texts->insert(query.value(0).toString(), query.value(1).toString().toUtf8());
    }
    if (recorded != tasks) {
        qWarning("this program recorded %d of %d tasks as uploaded", recorded, tasks);
        pass.ok = false;
    }
    SyncBenchDb::close(db);
    return pass;
}

// vdirsyncer's first sync of a filesystem storage holding texts into the collection: its
// discover first, then its sync, timed alone.
Pass peerUpload(const QString &root, const QHash<QString, QByteArray> &texts,
                const QString &collection)
{
    QDir dir(root);
    dir.removeRecursively();
    dir.mkpath(QStringLiteral("local"));
    dir.mkpath(QStringLiteral("status"));
    for (auto text = texts.cbegin(); text != texts.cend(); ++text) {
        QFile file(dir.filePath(QStringLiteral("local/%1.ics").arg(text.key())));
        file.open(QIODevice::WriteOnly);
        file.write(text.value());
    }
    QFile config(dir.filePath(QStringLiteral("config")));
    config.open(QIODevice::WriteOnly);
    config.write(QStringLiteral("[general]\nstatus_path = \"%1\"\n\n"
                                "[pair tasks]\na = \"here\"\nb = \"there\"\ncollections = null\n\n"
                                "[storage here]\ntype = \"filesystem\"\npath = \"%2\"\n"
                                "fileext = \".ics\"\n\n"
                                "[storage there]\ntype = \"caldav\"\nurl = \"%3\"\n"
                                "username = \"%4\"\npassword = \"%5\"\n")
                         .arg(dir.filePath(QStringLiteral("status")),
                              dir.filePath(QStringLiteral("local")), collection,
                              RadicaleServer::kUser, RadicaleServer::kPassword)
                         .toUtf8());
    config.close();
    Pass pass;
    const auto run = [&](const QString &command, double *ms) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        const double cpuBefore = cpuMs(RUSAGE_CHILDREN);
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral("vdirsyncer"),
                      { QStringLiteral("-c"), config.fileName(), QStringLiteral("-v"),
                        QStringLiteral("WARNING"), command });
        process.closeWriteChannel();
        const bool ended = process.waitForFinished(600000);
        if (ms) {
            *ms = double(clock.nsecsElapsed()) / 1e6;
            pass.cpuMs = cpuMs(RUSAGE_CHILDREN) - cpuBefore;
        }
        return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    };
    pass.ok = run(QStringLiteral("discover"), nullptr) && run(QStringLiteral("sync"), &pass.ms);
    return pass;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qRegisterMetaType<SyncError>();
    // No secret service is involved; nothing here asks one.
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray("unix:path=/nonexistent"));
    const int runs = positiveSetting("BENCH_PEER_RUNS", 3);
    QList<int> sizes;
    for (const QString &size : qEnvironmentVariable("BENCH_PEER_SIZES", QStringLiteral("1000"))
                                       .split(QLatin1Char(','), Qt::SkipEmptyParts))
        sizes << size.toInt();
    QTextStream out(stdout);
    if (QStandardPaths::findExecutable(QStringLiteral("vdirsyncer")).isEmpty()) {
        out << "\n## First upload beside vdirsyncer: vdirsyncer is not installed "
               "(scripts/install-deps.sh test)\n";
        return 0;
    }

    QNetworkAccessManager access;
    NetworkTransport network(&access);
    BackgroundServer<RadicaleServer> radicale;
    BackgroundServer<XandikosServer> xandikos;
    if (!radicale.start() || !xandikos.start()) {
        qWarning("a CalDAV server did not start");
        return 1;
    }
    QList<Server> servers;
    const QString only = qEnvironmentVariable("BENCH_PEER_SERVERS").toLower();
    if (only.isEmpty() || only.contains(QStringLiteral("radicale")))
        servers.append({ QStringLiteral("Radicale"), radicale.url(), radicale.pid() });
    if (only.isEmpty() || only.contains(QStringLiteral("xandikos")))
        servers.append({ QStringLiteral("Xandikos"), xandikos.url(), xandikos.pid() });

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sync.db"));
    out << "\n## First upload into an empty collection, beside vdirsyncer (" << runs
        << " runs)\n\n";
    ResultTable table(out);
    table.header();
    QStringList goals;
    int collections = 0;
    for (const int size : sizes) {
        const QString n = QLocale::c().toString(size);
        QHash<QString, QByteArray> texts;
        for (const Server &server : servers) {
            Samples program, stall, peer, programCpu, peerCpu, waiting, programServer, peerServer;
            for (int run = 0; run < runs; ++run) {
                // The texts come from the program's first upload, so it goes first then; after
                // that the two take turns at going first.
                for (int turn = 0; turn < 2; ++turn) {
                    const bool ours = (turn == 0) == (run % 2 == 0 || texts.isEmpty());
                    const QString collection = newCollection(&network, server.url, ++collections);
                    if (collection.isEmpty()) {
                        qWarning("no new collection on %s", qPrintable(server.name));
                        return 1;
                    }
                    Pass pass;
                    const double serverBefore = serverCpuMs(server.pid);
                    if (ours) {
                        pass = programUpload(path, size, server, collection, &network,
                                             texts.isEmpty() ? &texts : nullptr);
                        program.add(pass.ms);
                        stall.add(pass.stallMs);
                        programCpu.add(pass.cpuMs);
                        waiting.add(pass.waitingMs);
                        if (qEnvironmentVariableIsSet("BENCH_PEER_VERBOSE"))
                            qInfo("%s: %d requests, %.0f ms waiting of %.0f ms",
                                  qPrintable(server.name), pass.requests, pass.waitingMs, pass.ms);
                    } else {
                        pass = peerUpload(dir.filePath(QStringLiteral("peer")), texts, collection);
                        peer.add(pass.ms);
                        peerCpu.add(pass.cpuMs);
                        if (qEnvironmentVariableIsSet("BENCH_PEER_VERBOSE"))
                            qInfo("%s: vdirsyncer %.0f ms", qPrintable(server.name), pass.ms);
                    }
                    const double serverMs = serverCpuMs(server.pid) - serverBefore;
                    (ours ? programServer : peerServer).add(serverMs);
                    if (qEnvironmentVariableIsSet("BENCH_PEER_VERBOSE"))
                        qInfo("  the server's processor time: %.0f ms", serverMs);
                    const int held = countResources(&network, server.url, collection);
                    if (!pass.ok || held != size)
                        qWarning("%s on %s: %s, %d of %d tasks on the server",
                                 ours ? "this program" : "vdirsyncer", qPrintable(server.name),
                                 pass.ok ? "finished" : "FAILED", held, size);
                }
            }
            const QString peerName = QStringLiteral("vdirsyncer sync, same texts");
            table.row(QStringLiteral("first upload (%1)").arg(server.name), n, program, peerName,
                      peer, QStringLiteral("no slower than vdirsyncer"), 0);
            table.row(QStringLiteral("first upload, the server's answers awaited (%1)")
                              .arg(server.name),
                      n, waiting, peerName, peer, QStringLiteral("report"), 0);
            table.row(QStringLiteral("client's processor time, first upload (%1)").arg(server.name),
                      n, programCpu, QStringLiteral("vdirsyncer's"), peerCpu,
                      QStringLiteral("report"), 0);
            table.row(QStringLiteral("server's processor time, first upload (%1)").arg(server.name),
                      n, programServer, QStringLiteral("for vdirsyncer's"), peerServer,
                      QStringLiteral("report"), 0);
            table.row(QStringLiteral("longest stall, first upload (%1)").arg(server.name), n, stall,
                      QStringLiteral("-"), Samples(), QStringLiteral("<= 50 ms"), 1);
            const double ratio = program.median() / peer.median();
            goals << QStringLiteral("GOAL first-upload at %1 (%2): %3 ms against vdirsyncer's "
                                    "%4 ms (%5 x), stall %6 ms %7")
                             .arg(n, server.name, fixed(program.median(), 0),
                                  fixed(peer.median(), 0), fixed(ratio, 2),
                                  fixed(stall.median(), 1), verdict(ratio <= 1.0));
        }
    }
    out << "\n```\n" << goals.join(QLatin1Char('\n')) << "\n```\n";
    return 0;
}
