// What a person waits for on the task page of the real program, with one account of N tasks:
// from the input (a key, or the service call the page makes) to the next frame the window
// shows, measured by windowprobe inside the unchanged program on the offscreen platform. Each
// figure stands next to its floor from the same run: a bare repaint of the same window plus
// the least statement that gives the same answer, on the program's own connection.
#include "benchdata.h"
#include "benchstats.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <ctime>

namespace {

constexpr double kFrameMs = 1000.0 / 60.0;

qint64 monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

class Runner
{
public:
    explicit Runner(const QString &root)
        : m_environment(BenchData::programEnvironment(root))
    {
        m_environment.insert(QStringLiteral("TARVIK_PROBE_USER"), BenchData::measuredAccount());
        m_environment.insert(QStringLiteral("TARVIK_PROBE_PASSWORD"), BenchData::password());
    }

    QString databasePath() const
    {
        return m_environment.value(QStringLiteral("XDG_DATA_HOME"))
               + QStringLiteral("/appTarvikQml/taskmanager.db");
    }

    // Milliseconds from starting the program to its first frame, or NaN.
    double firstFrame()
    {
        qint64 start = 0;
        const QList<QByteArray> words = run(QStringLiteral(TARVIK_STARTUP_PROBE_PATH),
                                            QStringLiteral("firstframe"), {}, 60000, &start)
                                                .trimmed()
                                                .split(' ');
        if (words.size() != 6 || words.at(0) != "frame")
            return std::nan("");
        return double(words.at(1).toLongLong() - start) / 1e6;
    }

    // The samples of the window probe by figure; an error text when it failed. In the mode
    // "settle" it waits for the indexes after the first frame, in "window" it uses the page.
    QMap<QByteArray, Samples> interact(const QString &mode, int runs, QByteArray *error)
    {
        qint64 start = 0;
        const QByteArray output = run(QStringLiteral(TARVIK_WINDOW_PROBE_PATH), mode,
                                      QString::number(runs), 20 * 60000, &start);
        QMap<QByteArray, Samples> samples;
        bool done = false;
        for (const QByteArray &line : output.split('\n')) {
            const QList<QByteArray> words = line.trimmed().split(' ');
            if (words.size() == 3 && words.at(0) == "sample")
                samples[words.at(1)].add(words.at(2).toDouble());
            else if (words.value(0) == "done")
                done = true;
            else if (words.value(0) == "error")
                *error = line;
        }
        if (!done && error->isEmpty())
            *error = "the probe did not finish";
        return samples;
    }

private:
    QByteArray run(const QString &probe, const QString &mode, const QString &runs, int timeoutMs,
                   qint64 *startNs)
    {
        QProcessEnvironment environment = m_environment;
        environment.insert(QStringLiteral("LD_PRELOAD"), probe);
        environment.insert(QStringLiteral("TARVIK_PROBE"), mode);
        environment.insert(QStringLiteral("TARVIK_PROBE_RUNS"), runs);
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setStandardErrorFile(QProcess::nullDevice());
        *startNs = monotonicNs();
        process.start(QStringLiteral(TARVIK_APP_PATH), {});
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
        }
        return process.readAllStandardOutput();
    }

    QProcessEnvironment m_environment;
};

// A figure and its floor: the floor's parts are added medians.
struct Figure
{
    QString name;
    QByteArray samples;
    QString floorText;
    QList<QByteArray> floorParts;
};

double medianOf(const QMap<QByteArray, Samples> &samples, const QByteArray &key)
{
    return samples.value(key).median();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    BenchData::Options options = BenchData::Options::fromEnvironment();
    QList<int> sizes;
    for (const QString &size :
         qEnvironmentVariable("BENCH_WINDOW_SIZES", QStringLiteral("100000,1000000"))
                 .split(QLatin1Char(','), Qt::SkipEmptyParts))
        sizes << size.toInt();
    const int runs = qMax(3, options.runs / 3);
    const QLocale english(QLocale::English);
    QTextStream out(stdout);

    out << "### The task page of the real window, one account of N tasks (" << runs
        << " runs, every figure from the input to the next frame)\n\n";
    ResultTable table(out);
    table.header();

    const QList<Figure> figures = {
        { QStringLiteral("bare repaint of the task page"), "repaint", QStringLiteral("-"), {} },
        { QStringLiteral("page flip near the start (Right, pages 2-11)"),
          "flip",
          QStringLiteral("bare repaint"),
          { "repaint" } },
        { QStringLiteral("last page (End)"),
          "end",
          QStringLiteral("repaint + the page's rows from the nearer end"),
          { "repaint", "floor-end" } },
        { QStringLiteral("Prev from the last page (Left)"),
          "prev-near-end",
          QStringLiteral("repaint + rows from the nearer end"),
          { "repaint", "floor-end" } },
        { QStringLiteral("middle page jumped to (loadPage; no control does this)"),
          "middle",
          QStringLiteral("repaint + rows from the nearer end"),
          { "repaint", "floor-end" } },
        { QStringLiteral("Next / Prev in the middle (Right, Left)"),
          "middle-flip",
          QStringLiteral("repaint + rows from the nearer end"),
          { "repaint", "floor-end" } },
        { QStringLiteral("Next / Prev in the \"Due soonest\" order, first pages and middle"),
          "soonest-flip",
          QStringLiteral("repaint + rows from the nearer end"),
          { "repaint", "floor-end" } },
        { QStringLiteral("Next / Prev in the \"Priority\" order, first pages and middle"),
          "priority-flip",
          QStringLiteral("repaint + rows from the nearer end"),
          { "repaint", "floor-end" } },
        { QStringLiteral("first page (Home)"),
          "home",
          QStringLiteral("repaint + the first page's rows"),
          { "repaint", "floor-home" } },
        { QStringLiteral("Show on a reminder for the oldest task (its page)"),
          "show-oldest",
          QStringLiteral("repaint + the page's rows from the nearer end"),
          { "repaint", "floor-end" } },
        { QStringLiteral("create a task"),
          "create",
          QStringLiteral("repaint + its INSERT alone"),
          { "repaint", "floor-command" } },
        { QStringLiteral("edit a task"),
          "edit",
          QStringLiteral("repaint + an INSERT alone"),
          { "repaint", "floor-command" } },
        { QStringLiteral("delete a task"),
          "delete",
          QStringLiteral("repaint + an INSERT alone"),
          { "repaint", "floor-command" } },
        { QStringLiteral("search keystroke, 1 character"),
          "key-1",
          QStringLiteral("repaint + count and first page by a LIKE scan"),
          { "repaint", "floor-key-1" } },
        { QStringLiteral("search keystroke, 2 characters"),
          "key-2",
          QStringLiteral("repaint + count and first page by a LIKE scan"),
          { "repaint", "floor-key-2" } },
        { QStringLiteral("search keystroke, 3 or more"),
          "key-3+",
          QStringLiteral("repaint + the cheaper count and rows (LIKE scan or trigram index)"),
          { "repaint", "floor-key-3+" } },
        { QStringLiteral("search keystroke in the \"Due soonest\" order (typing \"report\")"),
          "soonest-key",
          QStringLiteral("repaint + the cheaper count and the rows by a LIKE walk in that order"),
          { "repaint", "floor-soonest-key" } },
    };

    QMap<int, QMap<QByteArray, Samples>> results;
    Samples frame;
    frame.add(kFrameMs);
    QMap<int, Samples> blank;
    QMap<int, Samples> indexed;
    for (int n : sizes) {
        const QString cached = BenchData::cachedSoloDatabase(options.cacheDir, n);
        QTemporaryDir root;
        Runner runner(root.path());
        QDir().mkpath(QFileInfo(runner.databasePath()).absolutePath());
        if (cached.isEmpty()) {
            out << "error: cannot prepare the database with " << n << " tasks\n";
            return 1;
        }
        // First start on a file written without the indexes: how long the window stays blank.
        for (int run = 0; run < 3; ++run) {
            if (!BenchData::copyDatabase(cached, runner.databasePath())) {
                out << "error: cannot copy the database\n";
                return 1;
            }
            blank[n].add(runner.firstFrame());
        }
        QByteArray error;
        // The program builds the indexes after its first frame; it is timed doing so (a
        // version that builds them before its first frame has them by then).
        QMap<QByteArray, Samples> settled = runner.interact(QStringLiteral("settle"), 1, &error);
        if (!error.isEmpty())
            settled.clear();
        error.clear();
        results[n] = runner.interact(QStringLiteral("window"), runs, &error);
        results[n].insert(settled);
        if (!error.isEmpty()) {
            out << "error: " << error << "\n";
            return 1;
        }
        for (int run = 0; run < 3; ++run)
            indexed[n].add(runner.firstFrame());

        const QMap<QByteArray, Samples> &s = results[n];
        for (const Figure &figure : figures) {
            Samples floor;
            double floorMs = 0;
            for (const QByteArray &part : figure.floorParts)
                floorMs += medianOf(s, part);
            floor.add(figure.floorParts.isEmpty() ? std::nan("") : floorMs);
            table.row(figure.name, english.toString(n), s.value(figure.samples), figure.floorText,
                      floor, QStringLiteral("<= 1 frame"));
        }
        table.row(QStringLiteral("first start on a file without the indexes, to the first frame"),
                  english.toString(n), blank[n],
                  QStringLiteral("first start on the same file with its indexes"), indexed[n],
                  QStringLiteral("no blank window for seconds"), 1);
        table.row(QStringLiteral("names held in memory for searching, from the sign-in key"),
                  english.toString(n), s.value("names-held"), QStringLiteral("a frame"), frame,
                  QStringLiteral("report"), 1);
        table.row(QStringLiteral("- the memory they take (MiB; the file is larger)"),
                  english.toString(n), s.value("names-mib"), QStringLiteral("-"), Samples(),
                  QStringLiteral("report"), 1);
        table.row(QStringLiteral("- then the longest the window cannot answer while indexing"),
                  english.toString(n), s.value("longest-freeze"), QStringLiteral("a frame"), frame,
                  QStringLiteral("report"), 1);
        table.row(QStringLiteral("- then until every index is complete"), english.toString(n),
                  s.value("indexes-done"), QStringLiteral("a frame"), frame,
                  QStringLiteral("report"), 1);
    }
    out << "\n";

    // One verdict per goal, on the medians of the largest size (search also at 100,000).
    auto verdict = [&](const QString &name, double value, double floor, double goal) {
        out << "GOAL " << name << ": " << fixed(value, 2) << " ms (" << fixed(value / floor, 1)
            << " x floor) " << (value <= goal ? "met" : "missed") << "\n";
    };
    const int largest = sizes.last();
    const QMap<QByteArray, Samples> &big = results[largest];
    const QString at = QStringLiteral(" at ") + english.toString(largest);
    const double repaint = medianOf(big, "repaint");
    double worst = 0;
    double worstFloor = 1;
    auto worstOf = [&](const QList<QByteArray> &keys, const QByteArray &floorKey,
                       const QMap<QByteArray, Samples> &s) {
        worst = 0;
        for (const QByteArray &key : keys) {
            if (medianOf(s, key) > worst) {
                worst = medianOf(s, key);
                worstFloor = medianOf(s, "repaint")
                             + (floorKey.isEmpty()  ? 0.0
                                : floorKey == "key" ? medianOf(s, "floor-" + key)
                                                    : medianOf(s, floorKey));
            }
        }
    };
    worstOf({ "create", "edit", "delete" }, "floor-command", big);
    verdict(QStringLiteral("create-edit-delete") + at, worst, worstFloor, kFrameMs);
    worstOf({ "flip", "end", "prev-near-end", "middle-flip", "home" }, "floor-end", big);
    verdict(QStringLiteral("any-page") + at, worst, worstFloor, kFrameMs);
    if (results.contains(100000) && largest != 100000) {
        worstOf({ "key-1", "key-2", "key-3+" }, "key", results[100000]);
        verdict(QStringLiteral("search-keystroke at 100,000"), worst, worstFloor, kFrameMs);
    }
    worstOf({ "key-1", "key-2", "key-3+" }, "key", big);
    verdict(QStringLiteral("search-keystroke") + at, worst, worstFloor, 3 * kFrameMs);
    double flipWorst = 0;
    for (int n : sizes)
        flipWorst = qMax(flipWorst, medianOf(results[n], "flip"));
    verdict(QStringLiteral("page-flip at any N"), flipWorst, repaint, kFrameMs);
    worstOf({ "soonest-flip" }, "floor-end", big);
    verdict(QStringLiteral("due-soonest-page-flip") + at, worst, worstFloor, kFrameMs);
    worstOf({ "priority-flip" }, "floor-end", big);
    verdict(QStringLiteral("priority-page-flip") + at, worst, worstFloor, kFrameMs);
    worstOf({ "soonest-key" }, "floor-soonest-key", big);
    verdict(QStringLiteral("due-soonest-search-keystroke") + at, worst, worstFloor, 3 * kFrameMs);
    verdict(QStringLiteral("first-start-without-indexes") + at, blank[largest].median(),
            indexed[largest].median(), 2 * indexed[largest].median());
    return 0;
}
