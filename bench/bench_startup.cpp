// Start-up of the real program to its first frame against a bare Qt Quick window, and the
// program's resident memory after signing in through its login page, with many tasks against
// none. Both programs run unchanged on the offscreen platform; startupprobe (LD_PRELOAD)
// reports the first frame and the memory.
#include "benchdata.h"
#include "benchstats.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>

#include <ctime>

namespace {

qint64 monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Runs program once under the probe and returns the line it wrote, or an empty array.
QByteArray probe(const QString &program, const QProcessEnvironment &environment, qint64 *startNs)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardErrorFile(QProcess::nullDevice());
    *startNs = monotonicNs();
    process.start(program, {});
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return process.readAllStandardOutput().trimmed();
}

struct Phases
{
    Samples toApp;
    Samples toWindow;
    Samples toFrame;
};

class Runner
{
public:
    explicit Runner(const QString &root)
        : m_environment(BenchData::programEnvironment(root))
    {
        m_environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(TARVIK_PROBE_PATH));
    }

    QString databasePath() const
    {
        return m_environment.value(QStringLiteral("XDG_DATA_HOME"))
               + QStringLiteral("/appTarvikQml/taskmanager.db");
    }

    // Milliseconds from starting the process to its first frame (NaN when there was none),
    // and the phases: to the application object, on to the window, on to the frame.
    double firstFrame(const QString &program, Phases *phases = nullptr)
    {
        QProcessEnvironment environment = m_environment;
        environment.insert(QStringLiteral("TARVIK_PROBE"), QStringLiteral("firstframe"));
        qint64 start = 0;
        const QList<QByteArray> words = probe(program, environment, &start).split(' ');
        if (words.size() != 6 || words.at(0) != "frame")
            return std::nan("");
        const qint64 frame = words.at(1).toLongLong();
        const qint64 app = words.at(3).toLongLong();
        const qint64 window = words.at(5).toLongLong();
        if (phases) {
            phases->toApp.add(double(app - start) / 1e6);
            phases->toWindow.add(double(window - app) / 1e6);
            phases->toFrame.add(double(frame - window) / 1e6);
        }
        return double(frame - start) / 1e6;
    }

    // Resident memory in MiB after signing in as user, or NaN; rows is what the page shows.
    double residentAfterSignIn(const QString &user, int *rows, QByteArray *error)
    {
        QProcessEnvironment environment = m_environment;
        environment.insert(QStringLiteral("TARVIK_PROBE"), QStringLiteral("rss"));
        environment.insert(QStringLiteral("TARVIK_PROBE_USER"), user);
        environment.insert(QStringLiteral("TARVIK_PROBE_PASSWORD"), BenchData::password());
        qint64 start = 0;
        const QByteArray line = probe(QStringLiteral(TARVIK_APP_PATH), environment, &start);
        const QList<QByteArray> words = line.split(' ');
        if (words.size() != 8 || words.at(0) != "rss") {
            *error = line.isEmpty() ? QByteArray("no answer") : line;
            return std::nan("");
        }
        *rows = words.at(5).toInt();
        return double(words.at(1).toLongLong()) / 1024.0;
    }

    // Milliseconds that constructing the reminder service takes in a fresh process, or NaN.
    double reminderServiceConstruction()
    {
        qint64 start = 0;
        const QList<QByteArray> words =
                probe(QStringLiteral(TARVIK_MEDIASTART_PATH), m_environment, &start).split(' ');
        if (words.size() != 2 || words.at(0) != "notifier")
            return std::nan("");
        return double(words.at(1).toLongLong()) / 1e6;
    }

private:
    QProcessEnvironment m_environment;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const BenchData::Options options = BenchData::Options::fromEnvironment();
    const int runs = options.runs;
    const QString &cacheDir = options.cacheDir;
    const QList<int> &sizes = options.sizes;
    const int memoryRuns = qMax(3, runs / 3);

    QTemporaryDir root;
    Runner runner(root.path());
    const QString appPath = QStringLiteral(TARVIK_APP_PATH);
    const QString barePath = QStringLiteral(TARVIK_BARE_PATH);
    QTextStream out(stdout);

    // The first run of each creates what a first start creates (the database, caches); the
    // figures are those of a returning user. The two programs take turns.
    Samples app1;
    Samples bare;
    Phases appPhases;
    Phases barePhases;
    Samples media;
    for (int run = -1; run < runs; ++run) {
        const double a = runner.firstFrame(appPath, run >= 0 ? &appPhases : nullptr);
        const double b = runner.firstFrame(barePath, run >= 0 ? &barePhases : nullptr);
        if (std::isnan(a) || std::isnan(b)) {
            out << "error: a program did not show a frame (" << appPath << ", " << barePath
                << ")\n";
            return 1;
        }
        const double m = runner.reminderServiceConstruction();
        if (run >= 0) {
            app1.add(a);
            bare.add(b);
            media.add(m);
        }
    }
    out << "### Start-up to the first frame (offscreen platform), " << runs << " runs each\n\n";
    ResultTable frames(out);
    frames.header();
    frames.row(QStringLiteral("appTarvikQml to its first frame"), QStringLiteral("-"), app1,
               QStringLiteral("bare ApplicationWindow, built the same way"), bare,
               QStringLiteral("<= 1.3x"), 1);
    frames.row(QStringLiteral("- start to the application object (loading, linking)"),
               QStringLiteral("-"), appPhases.toApp, QStringLiteral("the same, bare"),
               barePhases.toApp, QStringLiteral("report"), 1);
    frames.row(QStringLiteral("- on to the window (database, services, QML)"), QStringLiteral("-"),
               appPhases.toWindow, QStringLiteral("the same, bare"), barePhases.toWindow,
               QStringLiteral("report"), 1);
    frames.row(QStringLiteral("  of which constructing the reminder service (media backend)"),
               QStringLiteral("-"), media, QStringLiteral("appTarvikQml to its first frame"), app1,
               QStringLiteral("report"), 1);
    frames.row(QStringLiteral("- on to the first frame (rendering)"), QStringLiteral("-"),
               appPhases.toFrame, QStringLiteral("the same, bare"), barePhases.toFrame,
               QStringLiteral("report"), 1);
    out << "\n";
    // The media player stays created at start (a missing plugin shows then, not at the first
    // reminder); the verdict is on the ratio to the bare window.
    out << "GOAL start-up to the first frame: " << fixed(app1.median(), 1) << " ms ("
        << fixed(app1.median() / bare.median(), 2) << " x floor) "
        << (app1.median() <= 1.3 * bare.median() ? "met" : "missed") << "\n\n";

    out << "### Resident memory after signing in on the login page, " << memoryRuns
        << " runs each (the account shown against the account without tasks, same file)\n\n";
    ResultTable memory(out, QStringLiteral("MiB"));
    memory.header();
    const QLocale english(QLocale::English);
    for (int n : sizes) {
        const QString cached = BenchData::cachedDatabase(cacheDir, n);
        QDir().mkpath(QFileInfo(runner.databasePath()).absolutePath());
        if (cached.isEmpty() || !BenchData::copyDatabase(cached, runner.databasePath())) {
            out << "error: cannot prepare the database with " << n << " tasks per account\n";
            return 1;
        }
        // The first start on the copied file builds what it builds once (indexes).
        runner.firstFrame(appPath);
        Samples full;
        Samples none;
        int fullRows = -1;
        int noneRows = -1;
        for (int run = 0; run < memoryRuns; ++run) {
            QByteArray error;
            full.add(runner.residentAfterSignIn(BenchData::measuredAccount(), &fullRows, &error));
            none.add(runner.residentAfterSignIn(BenchData::emptyAccount(), &noneRows, &error));
            if (!error.isEmpty()) {
                out << "error: signing in failed: " << error << "\n";
                return 1;
            }
        }
        memory.row(QStringLiteral("after sign-in, %1 tasks (%2 rows shown)")
                           .arg(english.toString(n))
                           .arg(fullRows),
                   english.toString(n), full,
                   QStringLiteral("after sign-in with none (%1 rows shown)").arg(noneRows), none,
                   QStringLiteral("independent of N"), 1);
    }
    out << "\n";
    return 0;
}
