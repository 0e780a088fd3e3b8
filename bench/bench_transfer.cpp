// Import of an iCalendar file of N tasks into an empty account and export of the same tasks,
// through the transfer the settings dialog starts (its own thread and connection), with the
// longest stretch the event loop could not turn; beside python3-icalendar reading, and reading
// and writing, the same file in the same run.
#include "authservice.h"
#include "benchstats.h"
#include "dbmanager.h"
#include "taskstore.h"
#include "tasktransfer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

namespace {

const char *const kSubjects[] = { "Review the quarterly report before Monday",
                                  "Call vet for Bruno",
                                  "Book Café order for the offsite",
                                  "Renew the passport",
                                  "Send the invoice #%1 to Ørsted",
                                  "Water the plants on the balcony",
                                  "Prepare slides for the budget meeting",
                                  "Pick up dry cleaning" };

// A file as a calendar program writes it: realistic names, a third Done, some with a
// DESCRIPTION and CATEGORIES, due times over a year, some in a named zone.
QByteArray calendarOf(int tasks)
{
    QRandomGenerator random(42);
    QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Bench//Bench//EN\r\n";
    const QDateTime start(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC);
    for (int i = 0; i < tasks; ++i) {
        const QByteArray name = QByteArray(kSubjects[random.bounded(int(std::size(kSubjects)))])
                                        .replace("%1", QByteArray::number(i));
        const QDateTime due = start.addSecs(qint64(random.bounded(365 * 24)) * 3600);
        text += "BEGIN:VTODO\r\nUID:bench-" + QByteArray::number(i) + "@example.org\r\n";
        text += "DTSTAMP:20260101T000000Z\r\nCREATED:20251201T080000Z\r\n";
        text += "SUMMARY:" + name + "\r\n";
        if (i % 5 == 0)
            text += "DUE;TZID=Europe/Berlin:" + due.toString("yyyyMMdd'T'HHmmss").toLatin1()
                    + "\r\n";
        else
            text += "DUE:" + due.toString("yyyyMMdd'T'HHmmss'Z'").toLatin1() + "\r\n";
        if (i % 3 == 0)
            text += "STATUS:COMPLETED\r\nCOMPLETED:20260102T100000Z\r\n";
        else
            text += "STATUS:NEEDS-ACTION\r\n";
        if (i % 4 == 0)
            text += "DESCRIPTION:Bring the notes from last time\\, and the numbers.\r\n"
                    "CATEGORIES:Work,Planning\r\n";
        text += "END:VTODO\r\n";
    }
    return text + "END:VCALENDAR\r\n";
}

// The reference: python3-icalendar reading the file (and with write, writing it out again);
// the milliseconds it says it took, without starting the interpreter, and the memory in MB its
// peak grew by meanwhile.
std::pair<double, double> python(const QString &file, bool write)
{
    const QString script =
            QStringLiteral("import sys, time, resource, icalendar\n"
                           "m = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss\n"
                           "t = time.perf_counter()\n"
                           "cal = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read())\n"
                           "n = len(cal.walk('VTODO'))\n"
                           "if sys.argv[2] == 'write':\n"
                           "    open(sys.argv[1] + '.out', 'wb').write(cal.to_ical())\n"
                           "t = (time.perf_counter() - t) * 1000\n"
                           "m = (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - m) / 1024\n"
                           "print(t, m, n)\n");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 { QStringLiteral("-c"), script, file,
                   write ? QStringLiteral("write") : QStringLiteral("read") });
    if (!python.waitForFinished(-1) || python.exitCode() != 0)
        return { std::nan(""), std::nan("") };
    const QList<QByteArray> said = python.readAllStandardOutput().split(' ');
    return { said.value(0).toDouble(), said.value(1).toDouble() };
}

// A figure of this process's memory in MB: "VmHWM" its peak since resetPeak(), "VmRSS" now.
double memoryMb(const QByteArray &figure)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return std::nan("");
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(figure + ':'))
            return line.mid(figure.size() + 1).trimmed().split(' ').first().toDouble() / 1024;
    }
    return std::nan("");
}

// Starts the peak anew from the memory in use now; the memory in use, in MB.
double resetPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (!refs.open(QIODevice::WriteOnly) || refs.write("5") != 1)
        return std::nan("");
    return memoryMb("VmRSS");
}

// Runs one transfer to its end; its time and the longest stretch the event loop did not turn,
// both in ms. ok is false when it failed.
std::pair<double, double> transfer(TaskTransfer &transfer, bool import, const QString &file,
                                   bool &ok)
{
    QEventLoop loop;
    StallProbe probe;
    QObject::connect(&transfer, &TaskTransfer::finished, &loop, [&](bool done) {
        ok = done;
        loop.quit();
    });
    QElapsedTimer timer;
    timer.start();
    probe.start();
    const bool started = import ? transfer.startImport(QUrl::fromLocalFile(file))
                                : transfer.startExport(QUrl::fromLocalFile(file));
    probe.turned();
    if (started)
        loop.exec();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    QObject::disconnect(&transfer, &TaskTransfer::finished, &loop, nullptr);
    ok = ok && started;
    return { ms, probe.stall() };
}

// The longest stretch the event loop did not turn in ms while nothing ran, for ms: what the
// machine's load alone costs a window.
double idleStall(int ms)
{
    QEventLoop loop;
    StallProbe probe;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    probe.start();
    loop.exec();
    return probe.stall();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = positiveSetting("BENCH_TRANSFER_RUNS", 3);
    const int tasks = positiveSetting("BENCH_TRANSFER_TASKS", 100000);
    // BENCH_TRANSFER_PEER=0 leaves the reference out, to compare two builds of the program.
    const bool peer = qEnvironmentVariable("BENCH_TRANSFER_PEER") != QLatin1String("0");
    QTemporaryDir dir;
    const QString input = dir.filePath(QStringLiteral("tasks.ics"));
    {
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly) || file.write(calendarOf(tasks)) < 0)
            return 1;
    }

    QTextStream out(stdout);
    out << "### Import and export of " << tasks << " tasks (" << QFileInfo(input).size() / 1024
        << " KiB), " << runs << " runs\n\n";
    ResultTable table(out);
    table.header();
    Samples idle; // the event loop's longest stall with no transfer running, over 3 s
    Samples import, importStall, exportTime, exportStall, pyRead, pyWrite;
    // The growth of the peak of memory in use, in MB.
    Samples importMemory, exportMemory, pyReadMemory, pyWriteMemory;
    for (int run = 0; run < runs; ++run) {
        const QString path = dir.filePath(QStringLiteral("run%1.db").arg(run));
        bool ok = false;
        {
            DbManager db;
            db.open(path);
            db.initSchema();
            AuthService auth(&db);
            auth.registerUser(QStringLiteral("bench"), QStringLiteral("password"),
                              QStringLiteral("Bench"));
            auth.login(QStringLiteral("bench"), QStringLiteral("password"));
            TaskStore store(&db);
            TaskTransfer transfers(&db, &auth, &store);
            double before = resetPeak();
            const auto [importMs, importLongest] = transfer(transfers, true, input, ok);
            // Only the first run starts without memory an earlier one freed and the process kept.
            if (run == 0)
                importMemory.add(memoryMb("VmHWM") - before);
            if (!ok) {
                out << "import failed: " << transfers.resultText() << "\n";
                return 1;
            }
            import.add(importMs);
            importStall.add(importLongest);
            if (peer) {
                const auto [ms, mb] = python(input, false);
                pyRead.add(ms);
                pyReadMemory.add(mb);
            }
            before = resetPeak();
            const auto [exportMs, exportLongest] =
                    transfer(transfers, false, dir.filePath(QStringLiteral("out.ics")), ok);
            if (run == 0)
                exportMemory.add(memoryMb("VmHWM") - before);
            if (!ok) {
                out << "export failed: " << transfers.resultText() << "\n";
                return 1;
            }
            exportTime.add(exportMs);
            exportStall.add(exportLongest);
            if (peer) {
                const auto [ms, mb] = python(input, true);
                pyWrite.add(ms);
                pyWriteMemory.add(mb);
            }
            idle.add(idleStall(3000));
        }
        QSqlDatabase::removeDatabase(QSqlDatabase::defaultConnection);
        QFile::remove(path);
    }
    const QString n = QString::number(tasks);
    table.row(QStringLiteral("import into an empty account"), n, import,
              QStringLiteral("python3-icalendar reads the file"), pyRead, QStringLiteral("<= 5 s"),
              0);
    table.row(QStringLiteral("export of the same tasks"), n, exportTime,
              QStringLiteral("python3-icalendar reads and writes it"), pyWrite,
              QStringLiteral("<= 2 s"), 0);
    table.row(QStringLiteral("longest stall of the event loop, import"), n, importStall,
              QStringLiteral("the same, nothing running"), idle, QStringLiteral("<= 50 ms"), 1);
    table.row(QStringLiteral("longest stall of the event loop, export"), n, exportStall,
              QStringLiteral("the same, nothing running"), idle, QStringLiteral("<= 50 ms"), 1);
    out << "\n";
    ResultTable memory(out, QStringLiteral("MB"));
    memory.header();
    const QString bounded = QStringLiteral("held a slice at a time, not the file (%1 MB)")
                                    .arg(QFileInfo(input).size() / (1024 * 1024));
    memory.row(QStringLiteral("memory added at the peak, import (first run)"), n, importMemory,
               QStringLiteral("python3-icalendar reads the file"), pyReadMemory, bounded, 0);
    memory.row(QStringLiteral("memory added at the peak, export (first run)"), n, exportMemory,
               QStringLiteral("python3-icalendar reads and writes it"), pyWriteMemory, bounded, 0);
    return 0;
}
