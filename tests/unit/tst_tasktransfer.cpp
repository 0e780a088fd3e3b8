#include "fixture.h"
#include "tasktransfer.h"
#include "testenv.h"
#include "transferwork.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlError>
#include <QTest>
#include <QTimeZone>
#include <QTimer>

#include <memory>

#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

QByteArray calendar(const QByteArray &components)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//Test//EN\r\n" + components
           + "END:VCALENDAR\r\n";
}

QByteArray todo(const QByteArray &properties)
{
    return "BEGIN:VTODO\r\n" + properties + "END:VTODO\r\n";
}

QDateTime utc(int year, int month, int day, int hour, int minute)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute), QTimeZone::utc());
}

QDateTime local(int year, int month, int day, int hour, int minute)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute));
}

// The 1-based number of the line of text that starts with prefix.
int lineOf(const QByteArray &text, const QByteArray &prefix)
{
    const QList<QByteArray> lines = text.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines.at(i).startsWith(prefix))
            return int(i + 1);
    }
    return -1;
}

const QByteArray kEuropeZone = "BEGIN:VTIMEZONE\r\nTZID:W. Europe Standard Time\r\n"
                               "BEGIN:STANDARD\r\nDTSTART:16010101T030000\r\nTZOFFSETFROM:+0200\r\n"
                               "TZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10\r\n"
                               "END:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:16010101T020000\r\n"
                               "TZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
                               "RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3\r\nEND:DAYLIGHT\r\n"
                               "END:VTIMEZONE\r\n";

// What of the search index differs from the tasks table it mirrors, or whether a trigger keeping
// it in step is missing; empty when it is in step.
QString searchIndexOutOfStep(const TestDatabase &app)
{
    const int differing =
            app.scalar(QStringLiteral(
                               "SELECT (SELECT COUNT(*) FROM tasks t LEFT JOIN tasks_trigram s ON "
                               "s.rowid = t.id WHERE s.name IS NOT t.name OR s.user_id IS NOT "
                               "t.user_id OR s.active IS NOT t.active) + (SELECT COUNT(*) FROM "
                               "tasks_trigram) - (SELECT COUNT(*) FROM tasks)"))
                    .toInt();
    const int found = app.scalar(QStringLiteral("SELECT COUNT(*) FROM tasks_trigram WHERE "
                                                "name LIKE '%ask 1%'"))
                              .toInt();
    const int like = app.scalar(QStringLiteral("SELECT COUNT(*) FROM tasks WHERE name LIKE "
                                               "'%ask 1%'"))
                             .toInt();
    const int triggers = app.scalar(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE "
                                                   "type = 'trigger' AND name IN ("
                                                   "'tasks_trigram_insert', "
                                                   "'tasks_trigram_update', "
                                                   "'tasks_trigram_delete')"))
                                 .toInt();
    if (differing != 0 || found != like || triggers != 3)
        return QStringLiteral("%1 rows differ, %2 found for %3, %4 triggers")
                .arg(differing)
                .arg(found)
                .arg(like)
                .arg(triggers);
    return {};
}

} // namespace

class TestTaskTransfer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void roundTripIntoAnotherAccount();
    void exportReadByAnotherReader();
    void importsWhatOtherProgramsWrite_data();
    void importsWhatOtherProgramsWrite();
    void badInput_data();
    void badInput();
    void reimportUpdatesAndKeepsUnknownProperties();
    void reimportKeepsNewerWorkHere_data();
    void reimportKeepsNewerWorkHere();
    void importRunsBesideTheWindow_data();
    void importRunsBesideTheWindow();
    void undoneImportLeavesLaterChanges();
    void exportThatCannotBeWrittenKeepsTheOldFile();
    void importTakesNoRowItCannotProve_data();
    void importTakesNoRowItCannotProve();

private:
    void addSampleTasks();
    // name, Done flag, due epoch and creation text of the account's tasks, oldest first.
    QStringList rows(qint64 userId);

    std::unique_ptr<TaskServices> m_app;
    std::unique_ptr<TaskTransfer> m_transfer;
    qint64 m_userId = -1;
};

void TestTaskTransfer::init()
{
    m_app = std::make_unique<TaskServices>(testEnvironment.newDatabasePath());
    QVERIFY(m_app->opened);
    m_transfer = std::make_unique<TaskTransfer>(&m_app->db, &m_app->auth, &m_app->store);
    connect(m_transfer.get(), &TaskTransfer::importSaved, &m_app->tasks.undoJournal(),
            &UndoJournal::recordImport);
    m_userId = signUp(m_app->auth, QStringLiteral("ann"));
    QVERIFY(m_userId > 0);
}

void TestTaskTransfer::cleanup()
{
    m_transfer.reset();
    m_app.reset();
    releaseDefaultConnection();
}

void TestTaskTransfer::addSampleTasks()
{
    const QString longName = QStringLiteral("Überweisung für die Ärztin € ").repeated(6);
    QVERIFY(m_app->tasks.createTask(QStringLiteral("Pay rent, gas; water \\ bills"),
                                    utc(2026, 3, 10, 9, 0), false));
    QVERIFY(m_app->tasks.createTask(longName.trimmed(), QDateTime(), true));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("=SUM(A1:A2)"), utc(1965, 5, 1, 12, 0), false));
    QVERIFY(m_app->tasks.createTask(QStringLiteral("Far ahead"), utc(9999, 12, 31, 23, 0), true));
}

QStringList TestTaskTransfer::rows(qint64 userId)
{
    QSqlQuery query = m_app->query();
    query.prepare(QStringLiteral("SELECT name, active, expire_at_epoch, create_at FROM tasks "
                                 "WHERE user_id = ? ORDER BY id"));
    query.addBindValue(userId);
    QStringList result;
    if (!query.exec())
        return { query.lastError().text() };
    while (query.next()) {
        result << QStringLiteral("%1|%2|%3|%4")
                          .arg(query.value(0).toString(), query.value(1).toString(),
                               query.value(2).toString(), query.value(3).toString());
    }
    return result;
}

void TestTaskTransfer::roundTripIntoAnotherAccount()
{
    addSampleTasks();
    const QByteArray ics = m_transfer->exportCalendar();
    for (const QByteArray &line : ics.split('\n')) {
        QVERIFY2(line.size() <= 76 && (line.isEmpty() || line.endsWith('\r')), line);
        QVERIFY2(QUtf8StringView(line).isValidUtf8(), line);
    }

    const qint64 bob = signUp(m_app->auth, QStringLiteral("bob"));
    const TaskTransfer::ImportCounts counts = m_transfer->importCalendar(ics);
    QVERIFY2(counts.ok, qPrintable(m_transfer->resultText()));
    QCOMPARE(counts.imported, 4);
    QCOMPARE(rows(bob), rows(m_userId));
    QCOMPARE(m_app->tasks.totalCount(), 4);

    const QList<QByteArray> csv = m_transfer->exportCsv().split('\n');
    QCOMPARE(csv.first(), "name,status,due,created,notes,priority,tags\r");
    QVERIFY(csv.at(1).startsWith(
            "\"Pay rent, gas; water \\ bills\",Pending,2026-03-10T14:30:00+05:30,20"));
    QVERIFY(csv.at(1).endsWith("+05:30,,,\r"));
    QVERIFY(csv.at(3).startsWith("'=SUM(A1:A2),Pending,1965-05-01T17:30:00+05:30,"));

    // Control characters are no text of iCalendar; a semicolon splits a cell in some
    // spreadsheets.
    QVERIFY(m_app->tasks.createTask(QStringLiteral("Ring\a now\x1b;=1+1"), QDateTime(), false));
    QVERIFY(m_transfer->exportCalendar().contains("SUMMARY:Ring now\\;=1+1\r\n"));
    QVERIFY(m_transfer->exportCsv().contains("\n\"Ring\a now\x1b;=1+1\",Pending,,"));
}

void TestTaskTransfer::exportReadByAnotherReader()
{
    addSampleTasks();
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("tasks.ics")));
    QVERIFY(m_transfer->exportTasks(QUrl::fromLocalFile(file.fileName())));
    QVERIFY(m_transfer->resultText().startsWith(QStringLiteral("Exported 4 tasks")));

    QProcess python;
    python.start(
            QStringLiteral("/usr/bin/python3"),
            { QStringLiteral("-c"),
              QStringLiteral("import sys, icalendar\n"
                             "cal = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read())\n"
                             "for t in cal.walk('VTODO'):\n"
                             "    due = t.get('DUE')\n"
                             "    print(t['SUMMARY'], t['STATUS'], due.dt.isoformat() if due "
                             "else '-', bool(t.get('UID')), bool(t.get('CREATED')), sep='|')\n"),
              file.fileName() });
    QVERIFY(python.waitForFinished(30000));
    QVERIFY2(python.exitCode() == 0, python.readAllStandardError().constData());
    const QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split(u'\n');
    QVERIFY(lines.contains(QStringLiteral(
            "Pay rent, gas; water \\ bills|NEEDS-ACTION|2026-03-10T09:00:00+00:00|True|True")));
    QVERIFY(lines.contains(
            QStringLiteral("%1|COMPLETED|-|True|True")
                    .arg(QStringLiteral("Überweisung für die Ärztin € ").repeated(6).trimmed())));
    QVERIFY(lines.contains(
            QStringLiteral("=SUM(A1:A2)|NEEDS-ACTION|1965-05-01T12:00:00+00:00|True|True")));
    QVERIFY(lines.contains(
            QStringLiteral("Far ahead|COMPLETED|9999-12-31T23:00:00+00:00|True|True")));

    // Tasks made without a UID, read and written in several parts: each once, oldest first,
    // with the UID that is stored for it.
    QVERIFY(m_app->query().exec(
            QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                           "WHERE i < 4500) INSERT INTO tasks (user_id, name, active, create_at) "
                           "SELECT %1, 'Later ' || i, 0, datetime('2030-01-01', '+' || i || "
                           "' minutes') FROM n")
                    .arg(m_userId)));
    QVERIFY(file.remove() && m_transfer->exportTasks(QUrl::fromLocalFile(file.fileName())));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QStringList written;
    for (const QRegularExpressionMatch &match :
         QRegularExpression(QStringLiteral("\nUID:([^\r]+)\r\n")).globalMatch(text))
        written << match.captured(1);
    QCOMPARE(written.size(), 4504);
    QVERIFY(text.indexOf(QStringLiteral("SUMMARY:Later 1\r"))
            < text.indexOf(QStringLiteral("SUMMARY:Later 4500\r")));
    QStringList stored;
    QSqlQuery uids = m_app->query();
    QVERIFY(uids.exec(QStringLiteral("SELECT u.uid FROM task_uids u JOIN tasks t ON t.id = "
                                     "u.task_id ORDER BY t.create_at, t.id")));
    while (uids.next())
        stored << uids.value(0).toString();
    QCOMPARE(stored, written);
}

void TestTaskTransfer::importsWhatOtherProgramsWrite_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QDateTime>("due");
    QTest::addColumn<bool>("done");
    QTest::addColumn<QString>("note");

    QTest::newRow("TZID with its VTIMEZONE")
            << calendar(kEuropeZone
                        + todo("UID:1\r\nSUMMARY:Summer\r\n"
                               "DUE;TZID=W. Europe Standard Time:20260710T090000\r\n"))
            << "Summer" << utc(2026, 7, 10, 7, 0) << false << "";
    QTest::newRow("summer of year 9999 in a zone the file defines")
            << calendar(kEuropeZone
                        + todo("UID:1\r\nSUMMARY:Far\r\n"
                               "DUE;TZID=W. Europe Standard Time:99990710T090000\r\n"))
            << "Far" << utc(9999, 7, 10, 7, 0) << false << "";
    QTest::newRow("known Olson name alone")
            << calendar(todo("UID:2\r\nSUMMARY:Call NY\r\n"
                             "DUE;TZID=America/New_York:20260115T090000\r\n"))
            << "Call NY" << utc(2026, 1, 15, 14, 0) << false << "";
    QTest::newRow("unknown TZID read as local time")
            << calendar(todo("UID:3\r\nSUMMARY:Mars\r\nDUE;TZID=Mars/Olympus:20260115T090000\r\n"))
            << "Mars" << local(2026, 1, 15, 9, 0) << false << "unknown time zone";
    QTest::newRow("floating time")
            << calendar(todo("UID:4\r\nSUMMARY:Float\r\nDUE:20260115T090000\r\n")) << "Float"
            << local(2026, 1, 15, 9, 0) << false << "";
    QTest::newRow("date alone") << calendar(
            todo("UID:5\r\nSUMMARY:All day\r\nDUE;VALUE=DATE:20260115\r\n"))
                                << "All day" << local(2026, 1, 15, 23, 59) << false << "23:59";
    QTest::newRow("COMPLETED property without STATUS")
            << calendar(todo("UID:6\r\nSUMMARY:Old\r\nCOMPLETED:20260101T100000Z\r\n")) << "Old"
            << QDateTime() << true << "";
    QTest::newRow("STATUS CANCELLED is not pending")
            << calendar(todo("UID:11\r\nSUMMARY:Off\r\nSTATUS:CANCELLED\r\n")) << "Off"
            << QDateTime() << true << "";
    QTest::newRow("STATUS COMPLETED")
            << calendar(todo("UID:7\r\nSUMMARY:Done\r\nSTATUS:COMPLETED\r\n")) << "Done"
            << QDateTime() << true << "";
    QTest::newRow("folded inside a character, LF line ends")
            << calendar(todo("UID:8\r\nSUMMARY:Gr\xC3\r\n \xBC\xC3\x9F"
                             "e an J\xC3\xBCrgen und \xE6\x9D\xB1\xE4\xBA\xAC\r\n"))
                       .replace("\r\n", "\n")
            << QStringLiteral("Grüße an Jürgen und 東京") << QDateTime() << false << "";
    QTest::newRow("properties libical does not know, or refuses when empty")
            << calendar(todo("UID:10\r\nSUMMARY:Sort the shed\r\nORDER:3\r\nLOCATION:\r\n"
                             "BEGIN:VALARM\r\nACTION:EMAIL\r\nSUMMARY:Not the task\r\n"
                             "PROXIMITY:ARRIVE\r\nTRIGGER:-PT5M\r\nEND:VALARM\r\n"))
            << "Sort the shed" << QDateTime() << false << "";
    QTest::newRow("Windows-1252, not UTF-8")
            << calendar(todo("UID:12\r\nSUMMARY:Caf\xE9 \x80 5 f\xFCr J\xFCrgen\r\n"))
            << QStringLiteral("Café € 5 für Jürgen") << QDateTime() << false << "Windows-1252";
    // A file longer than the piece the reader takes at a time: a folded line across the cut,
    // a zone defined after the task using it, a Windows-1252 octet in a later piece only.
    QByteArray longNote = "DESCRIPTION:";
    while (longNote.size() < 3 * 1024 * 1024)
        longNote += QByteArray(73, 'n') + "\r\n ";
    QTest::newRow("read in pieces, its zone at its end")
            << calendar(todo("UID:15\r\n" + longNote
                             + "end\r\nSUMMARY:Long\r\n"
                               "DUE;TZID=W. Europe Standard Time:20260710T090000\r\n")
                        + kEuropeZone)
            << "Long" << utc(2026, 7, 10, 7, 0) << false << "";
    QTest::newRow("read in pieces, Windows-1252 in the last")
            << calendar(todo("UID:16\r\n" + longNote + "end\r\nSUMMARY:Caf\xE9\r\n"))
            << QStringLiteral("Café") << QDateTime() << false << "Windows-1252";
    QTest::newRow("DUE in year 0")
            << calendar(todo("UID:13\r\nSUMMARY:Zero\r\nDUE:00000101T000000Z\r\n")) << "Zero"
            << QDateTime() << false << "1 tasks without the due time";
    QTest::newRow("DUE in a negative year")
            << calendar(todo("UID:14\r\nSUMMARY:Minus\r\nDUE;VALUE=DATE:-0010101\r\n")) << "Minus"
            << QDateTime() << false << "1 tasks without the due time";
    QTest::newRow("escaped text") << calendar(
            todo("UID:9\r\nSUMMARY:Call Bob\\, Alice\\; and \\\\srv\\nnow\r\n"))
                                  << "Call Bob, Alice; and \\srv now" << QDateTime() << false << "";
}

void TestTaskTransfer::importsWhatOtherProgramsWrite()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, name);
    QFETCH(QDateTime, due);
    QFETCH(bool, done);
    QFETCH(QString, note);

    QVERIFY2(m_transfer->importCalendar(file).ok, qPrintable(m_transfer->resultText()));
    QVERIFY(m_transfer->resultText().contains(note));
    const QString epoch = due.isValid() ? QString::number(due.toSecsSinceEpoch()) : QString();
    QCOMPARE(rows(m_userId).size(), 1);
    QCOMPARE(rows(m_userId).first().section(u'|', 0, 2),
             QStringLiteral("%1|%2|%3").arg(name).arg(done ? 1 : 0).arg(epoch));
}

void TestTaskTransfer::badInput_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("tasks");
    QTest::addColumn<QString>("message");

    const QByteArray good = todo("UID:g\r\nSUMMARY:Good\r\n");
    QByteArray garbage(4096, '\0');
    QRandomGenerator random(7);
    random.fillRange(reinterpret_cast<quint32 *>(garbage.data()), garbage.size() / 4);
    QByteArray many;
    for (int i = 0; i < 100000; ++i)
        many += todo("UID:" + QByteArray::number(i) + "\r\nSUMMARY:Task " + QByteArray::number(i)
                     + "\r\nDUE:20270101T100000Z\r\n");
    const QByteArray badSecond = calendar(
            good + todo("UID:b\r\nSUMMARY:Bad\r\nCOMPLETED:" + QByteArray(1 << 20, '9') + "\r\n"));

    QTest::newRow("not iCalendar")
            << QByteArray("Hello, world\r\n") << 1 << "line 1: not an iCalendar file";
    QTest::newRow("empty file") << QByteArray() << 1 << "line 1:";
    QTest::newRow("binary garbage") << garbage << 1 << "line 1:";
    QTest::newRow("truncated") << calendar(good).left(60) << 1 << "cut short";
    QTest::newRow("bad value in the second task, the first imported")
            << badSecond << 2
            << QStringLiteral("1 unreadable components left out, the first at line %1:")
                       .arg(lineOf(badSecond, "COMPLETED:"));
    QTest::newRow("empty SUMMARY beside a good task")
            << calendar(good + todo("UID:e\r\nSUMMARY:\r\nDUE:20270101T100000Z\r\n")) << 2
            << "Imported 1 tasks, updated 0, skipped 1";
    QTest::newRow("END does not match") << calendar("BEGIN:VTODO\r\nSUMMARY:x\r\nEND:VEVENT\r\n")
                                        << 1 << "line 6: END:VTODO expected";
    const QByteArray longLine = calendar(good + todo(QByteArray(1 << 20, 'x') + "\r\n"));
    QTest::newRow("a megabyte of one line without a colon")
            << longLine << 1 << QStringLiteral("line %1:").arg(lineOf(longLine, "xxx"));
    QTest::newRow("a megabyte of one name")
            << calendar(todo("SUMMARY:" + QByteArray(1 << 20, 'x') + "\r\n")) << 2
            << "1 names shortened";
    QTest::newRow("100,000 tasks")
            << calendar(many) << 100001 << "Imported 100000 tasks, updated 0, skipped 0";
    QTest::newRow("NUL in a name")
            << calendar(todo(QByteArray("SUMMARY:a\0b\r\n", 13))) << 1 << "line 5: contains a NUL";
    QTest::newRow("control characters in a name")
            << calendar(todo("SUMMARY:Pay\x01 the\x1b bill\x7f\r\n")) << 2 << "Imported 1 tasks";
    QTest::newRow("due in year 9999")
            << calendar(todo("SUMMARY:Late\r\nDUE:99991231T235959Z\r\n")) << 2 << "Imported 1";
    QTest::newRow("due before 1970")
            << calendar(todo("SUMMARY:Early\r\nDUE:19650101T000000Z\r\n")) << 2 << "Imported 1";
    QTest::newRow("two tasks sharing a UID")
            << calendar(todo("UID:s\r\nSUMMARY:First\r\n") + todo("UID:s\r\nSUMMARY:Second\r\n"))
            << 2
            << "Imported 1 tasks, updated 0, skipped 1 (1 tasks left out for the UID of "
               "another task in the file, the first \"Second\")";
    QByteArray between;
    for (int i = 0; i < 2500; ++i)
        between += todo("UID:t" + QByteArray::number(i) + "\r\nSUMMARY:Task\r\n");
    QTest::newRow("two tasks sharing a UID, far apart")
            << calendar(todo("UID:s\r\nSUMMARY:First\r\n") + between
                        + todo("UID:s\r\nSUMMARY:Second\r\n"))
            << 2502 << "Imported 2501 tasks, updated 0, skipped 1 (1 tasks left out";
    QTest::newRow("only an event") << calendar("BEGIN:VEVENT\r\nSUMMARY:e\r\nEND:VEVENT\r\n") << 1
                                   << "Imported 0 tasks, updated 0, skipped 1";
    QByteArray minutely = kEuropeZone;
    minutely.replace("FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10", "FREQ=MINUTELY");
    QTest::newRow("a time zone that changes every minute") << calendar(
            minutely + todo("SUMMARY:x\r\nDUE;TZID=W. Europe Standard Time:20260101T100000\r\n"))
                                                           << 2 << "line 4: a time zone with rules";
    QTest::newRow("nested too deeply")
            << calendar(QByteArray("BEGIN:X-A\r\n").repeated(20)) << 1 << "nested too deeply";
}

void TestTaskTransfer::badInput()
{
    QFETCH(QByteArray, file);
    QFETCH(int, tasks);
    QFETCH(QString, message);

    QVERIFY(m_app->tasks.createTask(QStringLiteral("Kept"), QDateTime(), false));
    const bool ok = m_transfer->importCalendar(file).ok;
    QVERIFY2(m_transfer->resultText().contains(message), qPrintable(m_transfer->resultText()));
    QVERIFY(m_transfer->resultText().size() < 300);
    QCOMPARE(ok, tasks > 1 || message.startsWith(QStringLiteral("Imported")));
    QCOMPARE(m_app->scalar(QStringLiteral("SELECT COUNT(*) FROM tasks")).toInt(), tasks);
    QCOMPARE(m_app->tasks.totalCount(), tasks);
    const QString names = rows(m_userId).join(u'\n');
    QVERIFY(!names.contains(QChar(u'\x01')) && !names.contains(QChar(u'\x7f')));
}

void TestTaskTransfer::reimportUpdatesAndKeepsUnknownProperties()
{
    // Zones named only by another program's property (X-) ask for nothing to be kept.
    QByteArray namedAside;
    QByteArray aside;
    for (int i = 0; i < 50; ++i) {
        const QByteArray tzid = "Aside " + QByteArray::number(i);
        namedAside += QByteArray(kEuropeZone).replace("W. Europe Standard Time", tzid);
        aside += "X-SNOOZE-" + QByteArray::number(i) + ";TZID=" + tzid + ":20260101T080000\r\n";
    }
    const QByteArray first =
            calendar(namedAside + kEuropeZone
                     + todo("UID:a\r\nSUMMARY:Water plants\r\nrRule:FREQ=WEEKLY\r\n"
                            "X-CUSTOM-FIELD:keep me\r\nDTSTART;TZID=W. Europe Standard "
                            "Time:20260101T080000\r\nCATEGORIES:Home,Garden\r\n"
                            "BEGIN:VALARM\r\nACTION:DISPLAY\r\n"
                            "TRIGGER:-PT15M\r\nDESCRIPTION:Soon\r\nEND:VALARM\r\n")
                     + todo("UID:b\r\nSUMMARY:Feed cat\r\n"
                            "X-SNOOZE;TZID=W. Europe Standard Time:20260101T080000\r\n"
                            + aside)
                     + todo("UID:c\r\nSUMMARY:Tax\r\nDUE;VALUE=DATE:20260115\r\n"
                            "STATUS:CANCELLED\r\n")
                     + todo("UID:a\r\nRECURRENCE-ID;TZID=W. Europe Standard "
                            "Time:20260108T080000\r\nSUMMARY:Water plants once\r\n"));
    QCOMPARE(m_transfer->importCalendar(first).imported, 3);
    // Its rule is read from the kept text, whatever the case of its name.
    QCOMPARE(m_app->scalar(QStringLiteral("SELECT COUNT(*) FROM task_repeat")).toInt(), 1);
    // A task keeps the zones of its own date-times, not those an X- property names.
    const auto keptText = [&](const char *uid) {
        return m_app
                ->scalar(QStringLiteral("SELECT calendar FROM task_uids WHERE uid = ?"),
                         QString::fromLatin1(uid))
                .toString();
    };
    // A task keeps its own components; the zone its times use, once for the account.
    QCOMPARE(m_app->scalar(QStringLiteral("SELECT SUM(LENGTH(calendar)) < 4000 FROM task_uids"))
                     .toInt(),
             1);
    QVERIFY(!keptText("a").contains(QStringLiteral("VTIMEZONE")));
    QCOMPARE(m_app->scalar(QStringLiteral("SELECT group_concat(tzid) FROM task_zones")).toString(),
             QStringLiteral("W. Europe Standard Time"));
    QByteArray second = first;
    second.replace("SUMMARY:Water plants\r\n", "SUMMARY:Water all plants\r\nSTATUS:COMPLETED\r\n");
    const TaskTransfer::ImportCounts counts = m_transfer->importCalendar(second);
    QCOMPARE(counts.imported, 0);
    QCOMPARE(counts.updated, 3);
    QCOMPARE(rows(m_userId).first().section(u'|', 0, 1), QStringLiteral("Water all plants|1"));
    // As a file of a release without notes, priority and tags has them: in the kept text alone.
    QCOMPARE(m_app->scalar(QStringLiteral("SELECT tags FROM task_details")).toString(),
             QStringLiteral("Home,Garden"));
    QVERIFY(m_app->query().exec(QStringLiteral("DELETE FROM task_details")));

    // A task made here gets a UID at its first export, so its export comes back as an update.
    QVERIFY(m_app->tasks.createTask(QStringLiteral("New here"), QDateTime(), false));
    const QByteArray exported = m_transfer->exportCalendar();
    for (const char *kept :
         { "X-CUSTOM-FIELD:keep me", "rRule:FREQ=WEEKLY", "BEGIN:VALARM",
           "TZID:W. Europe Standard Time", "UID:a", "CATEGORIES:Home,Garden",
           "SUMMARY:Water plants once", "DUE;VALUE=DATE:20260115", "STATUS:CANCELLED" })
        QVERIFY2(exported.contains(kept), kept);
    QCOMPARE(exported.count("BEGIN:VTIMEZONE"), 1);
    // A text kept by an earlier release with its zone in it is written with that zone, once.
    QSqlQuery legacy = m_app->query();
    QVERIFY(legacy.exec(QStringLiteral("DELETE FROM task_zones")));
    QVERIFY(legacy.exec(
            QStringLiteral("UPDATE task_uids SET calendar = substr(calendar, 1, instr(calendar, "
                           "'BEGIN:VTODO') - 1) || '%1' || substr(calendar, instr(calendar, "
                           "'BEGIN:VTODO')) WHERE uid = 'a'")
                    .arg(QString::fromLatin1(kEuropeZone))));
    const QByteArray fromLegacy = m_transfer->exportCalendar();
    QCOMPARE(fromLegacy.count("BEGIN:VTIMEZONE"), 1);
    QVERIFY(fromLegacy.contains("DTSTART;TZID=W. Europe Standard Time:20260101T080000"));
    QCOMPARE(m_transfer->importCalendar(exported).updated, 4);
    QCOMPARE(rows(m_userId).size(), 4);

    // A deleted task comes back as a new one.
    QSqlQuery remove = m_app->query();
    QVERIFY(remove.exec(QStringLiteral("SELECT id FROM tasks WHERE name = 'Feed cat'"))
            && remove.next());
    QVERIFY(m_app->tasks.deleteTask(remove.value(0).toLongLong()));
    remove.finish();
    const TaskTransfer::ImportCounts again = m_transfer->importCalendar(exported);
    QCOMPARE(again.imported, 1);
    QCOMPARE(again.updated, 3);
    QCOMPARE(rows(m_userId).size(), 4);
}

void TestTaskTransfer::reimportKeepsNewerWorkHere_data()
{
    QTest::addColumn<QByteArray>("stamps"); // of the file imported again; "export" for a backup
    QTest::addColumn<bool>("editedHere");
    QTest::addColumn<QString>("expected"); // name|Done after the second import
    QTest::addColumn<QString>("result");

    QTest::newRow("own backup after a rename and Done")
            << QByteArray("export") << true << "Plan the trip|1"
            << "kept 1 newer here";
    QTest::newRow("LAST-MODIFIED before the change here")
            << QByteArray("LAST-MODIFIED:20200101T000000Z\r\nDTSTAMP:20990101T000000Z\r\n") << true
            << "Plan the trip|1"
            << "updated 0, skipped 0, kept 1 newer here";
    QTest::newRow("only a DTSTAMP before the change here")
            << QByteArray("DTSTAMP:20200101T000000Z\r\n") << true << "Plan the trip|1"
            << "kept 1 newer here";
    QTest::newRow("no stamps, changed since the import")
            << QByteArray() << true << "Plan the trip|1"
            << "kept 1 newer here";
    QTest::newRow("LAST-MODIFIED after the change here")
            << QByteArray("LAST-MODIFIED:20990101T000000Z\r\n") << true << "Plan trip|0"
            << "updated 1, skipped 0";
    QTest::newRow("no stamps, not changed since the import")
            << QByteArray() << false << "Plan trip|0"
            << "updated 1, skipped 0";
}

void TestTaskTransfer::reimportKeepsNewerWorkHere()
{
    QFETCH(QByteArray, stamps);
    QFETCH(bool, editedHere);
    QFETCH(QString, expected);
    QFETCH(QString, result);

    const QByteArray file = calendar(todo("UID:trip\r\nSUMMARY:Plan trip\r\n"
                                          + (stamps == "export" ? QByteArray() : stamps)));
    QCOMPARE(m_transfer->importCalendar(file).imported, 1);
    const QByteArray backup = stamps == "export" ? m_transfer->exportCalendar() : file;
    const qint64 id = m_app->scalar(QStringLiteral("SELECT id FROM tasks")).toLongLong();
    if (editedHere)
        QVERIFY(m_app->tasks.updateTask(id, QStringLiteral("Plan the trip"), true, QDateTime()));

    QVERIFY(m_transfer->importCalendar(backup).ok);
    QVERIFY2(m_transfer->resultText().contains(result), qPrintable(m_transfer->resultText()));
    QCOMPARE(rows(m_userId).size(), 1);
    QCOMPARE(rows(m_userId).first().section(u'|', 0, 1), expected);
}

void TestTaskTransfer::importRunsBesideTheWindow_data()
{
    QTest::addColumn<double>("cancelAt"); // the progress at which Cancel is pressed; 2 for never

    QTest::newRow("cancelled while reading the file") << 0.0;
    QTest::newRow("cancelled while saving") << 0.6;
    QTest::newRow("to the end") << 2.0;
}

// An import on its own thread and connection: the event loop turns all along, the window's list
// hears of the tasks when it ends, and Cancel keeps whole batches only and says how many.
void TestTaskTransfer::importRunsBesideTheWindow()
{
    QFETCH(double, cancelAt);

    constexpr int kTasks = 30000;
    QByteArray many;
    for (int i = 0; i < kTasks; ++i)
        many += todo("UID:w" + QByteArray::number(i) + "\r\nSUMMARY:Task " + QByteArray::number(i)
                     + "\r\nDUE;TZID=W. Europe Standard Time:20270101T100000\r\n");
    const QString path = QFileInfo(m_app->db.database().databaseName())
                                 .dir()
                                 .filePath(QStringLiteral("many.ics"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(calendar(kEuropeZone + many));
    file.close();
    QVERIFY(m_app->tasks.createTask(QStringLiteral("Kept"), QDateTime(), false));

    QSignalSpy finished(m_transfer.get(), &TaskTransfer::finished);
    QSignalSpy imported(m_transfer.get(), &TaskTransfer::tasksImported);
    int turns = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&turns] { ++turns; });
    ticker.start(5);
    QVERIFY(m_transfer->startImport(QUrl::fromLocalFile(path)));
    QVERIFY(m_transfer->busy());
    QVERIFY(!m_transfer->startImport(QUrl::fromLocalFile(path)));
    if (cancelAt <= 1) {
        QTRY_VERIFY_WITH_TIMEOUT(m_transfer->progress() >= cancelAt || !m_transfer->busy(), 60000);
        QVERIFY2(m_transfer->busy(), "the import ended before Cancel");
        m_transfer->cancel();
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 120000);
    QVERIFY(!m_transfer->busy());
    if (cancelAt > 0) // cancelled at once, it may end before the loop turned often
        QVERIFY(turns > 10);

    const int count = m_app->scalar(QStringLiteral("SELECT COUNT(*) FROM tasks")).toInt() - 1;
    const QString text = m_transfer->resultText();
    QCOMPARE(finished.first().first().toBool(), cancelAt > 1);
    QCOMPARE(m_app->tasks.totalCount(), count + 1);
    QCOMPARE(imported.size(), count > 0 ? 1 : 0);
    if (cancelAt > 1) {
        QCOMPARE(count, kTasks);
        QVERIFY2(text.startsWith(QStringLiteral("Imported %1 tasks").arg(kTasks)),
                 qPrintable(text));
    } else if (cancelAt == 0) {
        QCOMPARE(count, 0);
        QCOMPARE(text, QStringLiteral("Import cancelled: nothing imported"));
    } else {
        QVERIFY2(count > 0 && count < kTasks, qPrintable(text));
        QVERIFY2(text.startsWith(QStringLiteral("Import cancelled after %1 of %2 tasks")
                                         .arg(count)
                                         .arg(kTasks)),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("imported %1, updated 0").arg(count)));
    }
    // Every saved task has its UID and text beside it: no batch is saved in part.
    QCOMPARE(m_app->scalar(QStringLiteral("SELECT COUNT(*) FROM task_uids")).toInt(), count);
    QCOMPARE(searchIndexOutOfStep(*m_app), QString());
    if (count == 0)
        return;
    // The same file again updates every task, and the index follows.
    if (cancelAt > 1) {
        QVERIFY(m_app->query().exec(QStringLiteral("UPDATE tasks SET name = 'x', active = 1")));
        QVERIFY(m_transfer->importTasks(QUrl::fromLocalFile(path)));
        QCOMPARE(searchIndexOutOfStep(*m_app), QString());
        return;
    }

    // What it saved, cancelled or not, is undone, but for a task another device changed since.
    QCOMPARE(m_app->tasks.undoJournal().text(), QStringLiteral("Imported %1 tasks.").arg(count));
    const qint64 changed = m_app->scalar(QStringLiteral("SELECT max(id) FROM tasks")).toLongLong();
    QVERIFY(m_app->store
                    .updateTask(m_userId, changed, { QStringLiteral("Changed"), false, {} },
                                TaskStore::Origin::Sync)
                    .ok);
    QVERIFY(m_app->tasks.undo());
    QCOMPARE(m_app->tasks.undoJournal().text(),
             QStringLiteral("Import undone; 1 task kept: changed since the import."));
    QCOMPARE(rows(m_userId).size(), 2);
    QCOMPARE(m_app->tasks.totalCount(), 2);
}

// An undone import deletes the tasks it made and gives those it updated their rows back; a task
// changed or deleted here since (by another device) is left as it is, and the bar says so.
void TestTaskTransfer::undoneImportLeavesLaterChanges()
{
    const auto file = [](const QByteArray &names) {
        QByteArray tasks;
        for (const QByteArray &name : names.split(' '))
            tasks += todo("UID:" + name.left(1) + "\r\nSUMMARY:" + name + "\r\n");
        return calendar(tasks);
    };
    QCOMPARE(m_transfer->importCalendar(file("a b c")).imported, 3);
    const QStringList first = rows(m_userId);
    const TaskTransfer::ImportCounts counts = m_transfer->importCalendar(file("a2 b2 c2 d e"));
    QCOMPARE(counts.updated, 3);
    QCOMPARE(m_app->tasks.undoJournal().text(), QStringLiteral("Imported 2 tasks, updated 3."));
    const auto idOf = [this](const char *uid) {
        return m_app
                ->scalar(QStringLiteral("SELECT task_id FROM task_uids WHERE uid = ?"),
                         QString::fromLatin1(uid))
                .toLongLong();
    };
    for (const char *uid : { "b", "d" })
        QVERIFY(m_app->store
                        .updateTask(m_userId, idOf(uid), { QStringLiteral("here"), true, {} },
                                    TaskStore::Origin::Sync)
                        .ok);
    QVERIFY(m_app->store.deleteTask(m_userId, idOf("c"), TaskStore::Origin::Sync).ok);

    QVERIFY(m_app->tasks.undo());
    QCOMPARE(m_app->tasks.undoJournal().text(),
             QStringLiteral("Import undone; 3 tasks kept: changed since the import."));
    QCOMPARE(rows(m_userId).first(), first.first());
    QCOMPARE(m_app->scalar(QStringLiteral("SELECT group_concat(name) FROM tasks")).toString(),
             QStringLiteral("a,here,here"));
    QVERIFY(!m_app->tasks.undo());
    // The record of the first import stays while it may be undone; the second's is gone.
    QCOMPARE(m_app->scalar(QStringLiteral("SELECT COUNT(*) FROM task_imports")).toInt(), 1);
}

// A disk that fills up while the file is written (here: a file size limit, which fails the
// write as a full disk does, with a reason of its own): the file there before stays as it was,
// and the result names the system's reason.
void TestTaskTransfer::exportThatCannotBeWrittenKeepsTheOldFile()
{
    for (int i = 0; i < 40; ++i)
        QVERIFY(m_app->tasks.createTask(QStringLiteral("A long name ").repeated(20)
                                                + QString::number(i),
                                        QDateTime(), false));
    QVERIFY(!m_transfer->exportCalendar().isEmpty()); // the UIDs are stored before the limit
    const QString path = QFileInfo(m_app->db.database().databaseName())
                                 .dir()
                                 .filePath(QStringLiteral("backup.ics"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("the backup of yesterday");
    old.close();

    QSignalSpy finished(m_transfer.get(), &TaskTransfer::finished);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before {};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit limited = before;
    limited.rlim_cur = 4096;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool started = m_transfer->startExport(QUrl::fromLocalFile(path));
    const bool ended = finished.wait(60000);
    setrlimit(RLIMIT_FSIZE, &before);
    QVERIFY(started && ended);

    QCOMPARE(finished.first().first().toBool(), false);
    QCOMPARE(m_transfer->resultText(),
             QStringLiteral("Could not write %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(EFBIG))));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("the backup of yesterday"));
    QCOMPARE(QDir(QFileInfo(path).path()).entryList({ QStringLiteral("backup.ics*") }).size(), 1);
}

void TestTaskTransfer::importTakesNoRowItCannotProve_data()
{
    QTest::addColumn<bool>("betweenBatches"); // else rows name the id the import's task gets

    QTest::newRow("another program gives a task a UID of the file between batches") << true;
    QTest::newRow("rows beside the tasks name an id not handed out yet") << false;
}

// An import that saves in batches looks a UID up whenever another connection wrote since its
// last batch, and clears what might lie beside a task it inserts unless nothing can: it never
// takes another task's UID, nor notes and tags left by another program.
void TestTaskTransfer::importTakesNoRowItCannotProve()
{
    QFETCH(bool, betweenBatches);

    QVERIFY(m_app->tasks.createTask(QStringLiteral("Kept"), QDateTime(), false));
    for (const char *row : { "task_tags (user_id, tag, task_id) VALUES (%1, 'old', %2)",
                             "task_details (user_id, notes, task_id) VALUES (%1, 'old', %2)" }) {
        QVERIFY(betweenBatches
                || m_app->query().exec(QStringLiteral("INSERT INTO %1")
                                               .arg(row)
                                               .arg(m_userId)
                                               .arg("(SELECT seq + 1 FROM sqlite_sequence WHERE "
                                                    "name = 'tasks')")));
    }
    const TransferOutcome outcome = TransferWork::onOwnConnection(
            m_app->db.database().databaseName(), [&](TaskStore *tasks) {
                connect(tasks, &TaskStore::tasksChanged, this, [&] {
                    const TaskStore::Written here =
                            betweenBatches && rows(m_userId).size() == 2 ? m_app->store.insertTask(
                                    m_userId, { "Here", false, {} }, TaskStore::Origin::Window)
                                                                         : TaskStore::Written {};
                    QVERIFY(!here.ok || m_app->store.storeUid(m_userId, here.insertedId, "b", {}));
                });
                return TransferWork::importCalendar(
                        tasks, m_userId,
                        calendar(todo("UID:a\r\nSUMMARY:A\r\n") + todo("UID:b\r\nSUMMARY:B\r\n")),
                        nullptr, 1);
            });
    QVERIFY2(outcome.ok, qPrintable(outcome.text));
    QCOMPARE(rows(m_userId).size(), 3);
    QCOMPARE(m_app->scalar(QStringLiteral("SELECT t.name || (SELECT COUNT(*) FROM task_tags) || "
                                          "(SELECT COUNT(*) FROM task_details) FROM task_uids u "
                                          "JOIN tasks t ON t.id = u.task_id WHERE u.uid = 'b'"))
                     .toString(),
             betweenBatches ? QStringLiteral("Here00") : QStringLiteral("B00"));
}

QTEST_GUILESS_MAIN(TestTaskTransfer)

#include "tst_tasktransfer.moc"
