#include "icalalarm.h"
#include "icaldetails.h"
#include "icalkept.h"
#include "icallines.h"
#include "icalreader.h"
#include "icalwriter.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <algorithm>

namespace {

const QDateTime kStamp(QDate(2026, 2, 1), QTime(12, 0), QTimeZone::utc());
const QDateTime kMovedDue(QDate(2026, 3, 2), QTime(9, 30), QTimeZone::utc());
// Long enough to be folded, with characters of two, three and four octets near the folds and
// characters that SUMMARY escapes.
const QString kNewName =
        QStringLiteral("Überweisung für die Ärztin, März; 東京 \\ 🚲 ").repeated(3).trimmed();

QDateTime utc(int year, int month, int day, int hour, int minute)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute), QTimeZone::utc());
}

QByteArray calendar(const QByteArray &prodid, const QByteArray &components)
{
    QByteArray text = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:" + prodid + "\n" + components
                      + "END:VCALENDAR\n";
    return text.replace("\n", "\r\n");
}

// Compares two calendars as python-icalendar (the library of todoman and other clients) reads
// them: the same components in the same order, each with the same properties, values and
// parameters, except PRODID and the named properties of the task's own VTODO; prints what
// differs.
const char *const kCompare = R"(
import sys, icalendar
before, after = (icalendar.Calendar.from_ical(open(p, 'rb').read()).walk() for p in sys.argv[1:3])
def changed(component):
    if component.name == 'VCALENDAR':
        return {'PRODID'}
    if component.name == 'VTODO' and 'RECURRENCE-ID' not in component:
        return set(sys.argv[3].split(','))
    return set()
def props(component):
    return sorted((name, sorted((k.upper(), str(v)) for k, v in getattr(value, 'params', {}).items()),
                   value.to_ical() if hasattr(value, 'to_ical') else value)
                  for name, value in component.property_items(recursive=False, sorted=False)
                  if name not in changed(component))
if [c.name for c in before] != [c.name for c in after]:
    print('components:', [c.name for c in before], [c.name for c in after])
for b, a in zip(before, after):
    for item in props(b):
        if item not in props(a):
            print(b.name, 'lost or changed:', item)
    for item in props(a):
        if item not in props(b):
            print(a.name, 'gained:', item)
)";

// Reads the VTIMEZONE of a calendar with python-icalendar and prints every hour of three years
// from the year given at which its offset from UTC differs from the system's for the zone.
const char *const kZoneOffsets = R"(
import sys, icalendar, datetime, zoneinfo
zone = icalendar.Calendar.from_ical(open(sys.argv[1], 'rb').read()).walk('VTIMEZONE')[0]
ours, system = zone.to_tz(), zoneinfo.ZoneInfo(sys.argv[2])
at = datetime.datetime(int(sys.argv[3]), 1, 1, tzinfo=datetime.timezone.utc)
for hour in range(3 * 366 * 24):
    t = at + datetime.timedelta(hours=hour)
    if t.astimezone(ours).utcoffset() != t.astimezone(system).utcoffset():
        print(t, t.astimezone(ours).utcoffset(), t.astimezone(system).utcoffset())
        break
)";

QString differences(const QByteArray &before, const QByteArray &after, const QStringList &changed)
{
    QTemporaryDir dir;
    for (const auto &[name, text] :
         { std::pair { "before.ics", before }, { "after.ics", after } }) {
        QFile file(dir.filePath(QLatin1String(name)));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            return QStringLiteral("cannot write ") + file.fileName();
    }
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 { QStringLiteral("-c"), QLatin1String(kCompare), dir.filePath("before.ics"),
                   dir.filePath("after.ics"), changed.join(u',') });
    if (!python.waitForFinished(30000) || python.exitCode() != 0)
        return QString::fromUtf8(python.readAllStandardError());
    return QString::fromUtf8(python.readAllStandardOutput());
}

} // namespace

class TestIcalCodec : public QObject
{
    Q_OBJECT

private slots:
    void writesBackWhatOthersWrote_data();
    void writesBackWhatOthersWrote();
    void mapsNotesPriorityAndTags_data();
    void mapsNotesPriorityAndTags();
    void movesSeriesInItsZone();
    void writesSeriesInItsZone_data();
    void writesSeriesInItsZone();
    void ownAlarm_data();
    void ownAlarm();
    void keptTextTakenAsTheTask_data();
    void keptTextTakenAsTheTask();
};

void TestIcalCodec::writesBackWhatOthersWrote_data()
{
    QTest::addColumn<QByteArray>("resource");
    QTest::addColumn<TaskFields>("read");
    QTest::addColumn<bool>("toggle"); // besides the new name, flip Done and move the due time
    QTest::addColumn<QStringList>("changed"); // besides SUMMARY, DTSTAMP, LAST-MODIFIED

    QTest::newRow("Thunderbird: in process, due in a zone the file defines")
            << calendar("-//Mozilla.org/NONSGML Mozilla Calendar V1.1//EN", R"(BEGIN:VTIMEZONE
TZID:Europe/Berlin
X-LIC-LOCATION:Europe/Berlin
BEGIN:DAYLIGHT
TZOFFSETFROM:+0100
TZOFFSETTO:+0200
TZNAME:CEST
DTSTART:19700329T020000
RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=3
END:DAYLIGHT
BEGIN:STANDARD
TZOFFSETFROM:+0200
TZOFFSETTO:+0100
TZNAME:CET
DTSTART:19701025T030000
RRULE:FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10
END:STANDARD
END:VTIMEZONE
BEGIN:VTODO
CREATED:20260105T101500Z
LAST-MODIFIED:20260105T101700Z
DTSTAMP:20260105T101700Z
UID:5c1e5d3a-1b8c-4f7e-9d2a-3f6b1c0e7a11
SUMMARY:Steuererklärung abgeben
STATUS:IN-PROCESS
PERCENT-COMPLETE:40
DTSTART;TZID=Europe/Berlin:20260110T090000
DUE;TZID=Europe/Berlin:20260131T180000
X-MOZ-GENERATION:3
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER;VALUE=DURATION:-PT15M
DESCRIPTION:Default Mozilla Description
END:VALARM
END:VTODO
)") << TaskFields { QStringLiteral("Steuererklärung abgeben"), false, utc(2026, 1, 31, 17, 0) }
            << false << QStringList();
    QTest::newRow("Apple Reminders: a due date, an alarm on arrival")
            << calendar("-//Apple Inc.//iOS 17.2//EN", R"(CALSCALE:GREGORIAN
BEGIN:VTODO
CREATED:20260102T080000Z
DTSTAMP:20260102T080500Z
LAST-MODIFIED:20260102T080500Z
SEQUENCE:1
STATUS:NEEDS-ACTION
SUMMARY:Buy bread
UID:A1B2C3D4-0000-4000-8000-ABCDEF012345
X-APPLE-SORT-ORDER:28391
DUE;VALUE=DATE:20260115
BEGIN:VALARM
ACTION:DISPLAY
DESCRIPTION:Reminder
SUMMARY:Not the task's name
TRIGGER;VALUE=DATE-TIME:19760401T005545Z
UID:2B3C4D5E-1111-4111-8111-BCDEF0123456
PROXIMITY:ARRIVE
X-APPLE-PROXIMITY:ARRIVE
X-APPLE-STRUCTURED-LOCATION;VALUE=URI;X-APPLE-RADIUS=100;X-TITLE=Bakery:geo:52.520008,13.404954
END:VALARM
END:VTODO
)")
            << TaskFields { QStringLiteral("Buy bread"), false,
                            QDateTime(QDate(2026, 1, 15), QTime(23, 59)) }
            << false << QStringList();
    QTest::newRow("Tasks.org: repeating, tags on one line, ORDER")
            << calendar("+//IDN tasks.org//android-130804//EN", R"(BEGIN:VTODO
DTSTAMP:20260103T120000Z
UID:7034926457234234523
CREATED:20260103T115900Z
LAST-MODIFIED:20260103T120000Z
SUMMARY:Water the plants
PRIORITY:9
ORDER:3
RRULE:FREQ=WEEKLY;BYDAY=MO,TH
DTSTART:20260105T070000Z
DUE:20260105T080000Z
CATEGORIES:Home,Garden
BEGIN:VALARM
TRIGGER;RELATED=END:PT0S
ACTION:DISPLAY
DESCRIPTION:Default Tasks.org description
END:VALARM
END:VTODO
)") << TaskFields { QStringLiteral("Water the plants"), false, utc(2026, 1, 5, 8, 0) }
            << false << QStringList();
    QTest::newRow("Nextcloud Tasks: tags on two lines, notes with commas and line breaks")
            << calendar("-//Nextcloud Tasks v0.16.0", R"(BEGIN:VTODO
UID:3f9b6c2e-8d41-4e0a-b7a5-2c9e1d4f6a80
CREATED:20260104T090000
DTSTAMP:20260104T091500
LAST-MODIFIED:20260104T091500
SUMMARY:Call Anna
DESCRIPTION:Ask about:\n- the keys\, the car\n- Sunday\; maybe lunch
CATEGORIES:Family
CATEGORIES:Phone
RELATED-TO:1c2d3e4f-parent
CLASS:PRIVATE
X-APPLE-SORT-ORDER:727520700
PRIORITY:1
END:VTODO
)") << TaskFields { QStringLiteral("Call Anna"), false, QDateTime() }
            << false << QStringList();
    const QByteArray evolution =
            calendar("-//Ximian//NONSGML Evolution Calendar//EN", R"(BEGIN:VTODO
UID:20260104T101010Z-4821-1000-1-12@laptop
DTSTAMP:20260104T101010Z
SUMMARY:Renew passport
STATUS:COMPLETED
COMPLETED:20260104T101010Z
PERCENT-COMPLETE:100
CLASS:PUBLIC
SEQUENCE:2
CREATED:20260101T120000Z
LAST-MODIFIED:20260104T101010Z
ATTENDEE;CN=Ann;PARTSTAT=NEEDS-ACTION;ROLE=REQ-PARTICIPANT:mailto:ann@example.org
X-EVOLUTION-CALDAV-HREF:/calendars/ann/tasks/20260104T101010Z-4821.ics
LOCATION:
DESCRIPTION:
X-LIC-ERROR;X-LIC-ERRORTYPE=VALUE-PARSE-ERROR:Can't parse as RECUR value
END:VTODO
)");
    QTest::newRow("Evolution: completed, empty values libical refuses, libical's error note")
            << evolution << TaskFields { QStringLiteral("Renew passport"), true, QDateTime() }
            << false << QStringList { "X-LIC-ERROR" };
    QTest::newRow("Evolution: reopened and given a due time")
            << evolution << TaskFields { QStringLiteral("Renew passport"), true, QDateTime() }
            << true
            << QStringList { "X-LIC-ERROR", "STATUS", "COMPLETED", "PERCENT-COMPLETE", "DUE" };
    QTest::newRow("Thunderbird: repeating, a completed occurrence written first")
            << calendar("-//Mozilla.org/NONSGML Mozilla Calendar V1.1//EN", R"(BEGIN:VTODO
UID:bins-1
RECURRENCE-ID:20260106T070000Z
DTSTAMP:20260106T073000Z
SUMMARY:Take out the bins
STATUS:COMPLETED
COMPLETED:20260106T073000Z
PERCENT-COMPLETE:100
DTSTART:20260106T070000Z
DUE:20260106T080000Z
END:VTODO
BEGIN:VTODO
UID:bins-1
DTSTAMP:20260101T090000Z
CREATED:20260101T090000Z
LAST-MODIFIED:20260101T090000Z
SUMMARY:Take out the bins
RRULE:FREQ=WEEKLY;BYDAY=TU
DTSTART:20260106T070000Z
DUE:20260106T080000Z
X-MOZ-LASTACK:20260106T070500Z
END:VTODO
)") << TaskFields { QStringLiteral("Take out the bins"), false, utc(2026, 1, 13, 8, 0) }
            << false << QStringList();
    QTest::newRow("jtx Board: done, and a due time in place of a duration")
            << calendar("+//IDN bitfire.at//ical4android (at.techbee.jtx)", R"(BEGIN:VTODO
DTSTAMP:20260107T100000Z
UID:1704621600000-6f1d2a3b-jtx
SEQUENCE:0
CREATED:20260107T100000Z
LAST-MODIFIED:20260107T100000Z
SUMMARY:Book the venue
STATUS:NEEDS-ACTION
PERCENT-COMPLETE:0
DTSTART:20260110T090000Z
DURATION:PT2H
COLOR:steelblue
GEO:48.20849;16.37208
BEGIN:VALARM
ACTION:DISPLAY
TRIGGER;RELATED=START:-PT30M
END:VALARM
END:VTODO
)") << TaskFields { QStringLiteral("Book the venue"), false, QDateTime() }
            << true << QStringList { "STATUS", "COMPLETED", "PERCENT-COMPLETE", "DUE", "DURATION" };
}

void TestIcalCodec::writesBackWhatOthersWrote()
{
    QFETCH(QByteArray, resource);
    QFETCH(TaskFields, read);
    QFETCH(bool, toggle);
    QFETCH(QStringList, changed);

    const IcalReadResult before = IcalReader::read(resource, IcalReader::Mode::Resource);
    QVERIFY2(before.error.isEmpty(), qPrintable(before.error));
    QCOMPARE(before.tasks.size(), 1);
    IcalTask task = before.tasks.first();
    QCOMPARE(task.name, read.name);
    QCOMPARE(task.done, read.done);
    QCOMPARE(task.due, read.due);
    QCOMPARE(task.calendar, resource);

    task.name = kNewName;
    if (toggle) {
        task.done = !task.done;
        task.due = kMovedDue;
    }
    const QByteArray written = IcalWriter::writeTask(task, kStamp);
    QVERIFY(written.endsWith("END:VCALENDAR\r\n"));
    QList<QByteArray> lines = written.split('\n');
    QVERIFY(lines.takeLast().isEmpty());
    for (const QByteArray &line : std::as_const(lines)) {
        QVERIFY2(line.size() <= 76 && line.endsWith('\r'), line);
        QVERIFY2(QUtf8StringView(line).isValidUtf8(), line);
    }
    QVERIFY(!written.contains("X-LIC-ERROR"));
    const IcalReadResult after = IcalReader::read(written, IcalReader::Mode::Resource);
    QCOMPARE(after.tasks.size(), 1);
    QCOMPARE(after.tasks.first().fields(), task.fields());
    QCOMPARE(after.tasks.first().uid, task.uid);
    QCOMPARE(after.tasks.first().lastModified, kStamp);
    QCOMPARE(after.tasks.first().stamp, kStamp);

    changed << "SUMMARY"
            << "DTSTAMP"
            << "LAST-MODIFIED";
    QCOMPARE(differences(resource, written, changed), QString());
}

void TestIcalCodec::mapsNotesPriorityAndTags_data()
{
    QTest::addColumn<QByteArray>("properties");
    QTest::addColumn<int>("priority"); // as read: 0 none to 3 high
    QTest::addColumn<QStringList>("tags"); // as read
    QTest::addColumn<QString>("edit"); // "notes", "priority N", "tags a,b" or nothing
    QTest::addColumn<QByteArrayList>("present"); // lines of the written VTODO
    QTest::addColumn<QByteArrayList>("absent"); // property names it no longer has

    const QByteArrayList none;
    QTest::newRow("PRIORITY 3 reads high and stays 3")
            << QByteArray("PRIORITY:3\n") << 3 << QStringList() << QString()
            << QByteArrayList { "PRIORITY:3" } << none;
    QTest::newRow("PRIORITY 4 reads high") << QByteArray("PRIORITY:4\n") << 3 << QStringList()
                                           << QString() << QByteArrayList { "PRIORITY:4" } << none;
    QTest::newRow("PRIORITY 5 reads medium")
            << QByteArray("PRIORITY:5\n") << 2 << QStringList() << QString()
            << QByteArrayList { "PRIORITY:5" } << none;
    QTest::newRow("PRIORITY 6 reads low") << QByteArray("PRIORITY:6\n") << 1 << QStringList()
                                          << QString() << QByteArrayList { "PRIORITY:6" } << none;
    QTest::newRow("PRIORITY 0 reads none and stays")
            << QByteArray("PRIORITY:0\n") << 0 << QStringList() << QString()
            << QByteArrayList { "PRIORITY:0" } << none;
    QTest::newRow("PRIORITY 12 reads none and stays")
            << QByteArray("PRIORITY:12\n") << 0 << QStringList() << QString()
            << QByteArrayList { "PRIORITY:12" } << none;
    QTest::newRow("PRIORITY 2 changed to low writes 9")
            << QByteArray("PRIORITY:2\n") << 3 << QStringList() << QStringLiteral("priority 1")
            << QByteArrayList { "PRIORITY:9" } << none;
    QTest::newRow("medium written as 5")
            << QByteArray() << 0 << QStringList() << QStringLiteral("priority 2")
            << QByteArrayList { "PRIORITY:5" } << none;
    QTest::newRow("priority taken away")
            << QByteArray("PRIORITY:1\n") << 3 << QStringList() << QStringLiteral("priority 0")
            << QByteArrayList() << QByteArrayList { "PRIORITY" };
    QTest::newRow("two CATEGORIES lines read, one written")
            << QByteArray("CATEGORIES:home,garden\nCATEGORIES:errands\n") << 0
            << QStringList { "home", "garden", "errands" }
            << QStringLiteral("tags home,errands,new")
            << QByteArrayList { "CATEGORIES:home,errands,new" }
            << QByteArrayList { "CATEGORIES:errands" };
    QTest::newRow("tags untouched stay as written")
            << QByteArray("CATEGORIES:home\nCATEGORIES:errands\n") << 0
            << QStringList { "home", "errands" } << QString()
            << QByteArrayList { "CATEGORIES:home", "CATEGORIES:errands" } << none;
    QTest::newRow("notes edited drop the HTML copy")
            << QByteArray("DESCRIPTION:Old words\nX-ALT-DESC;FMTTYPE=text/html:<p>Old words</p>\n")
            << 0 << QStringList() << QStringLiteral("notes")
            << QByteArrayList { "DESCRIPTION:New words\\, two lines\\nhere" }
            << QByteArrayList { "X-ALT-DESC" };
    QTest::newRow("notes untouched keep the HTML copy")
            << QByteArray("DESCRIPTION:Old words\nX-ALT-DESC;FMTTYPE=text/html:<p>Old words</p>\n")
            << 0 << QStringList() << QString()
            << QByteArrayList { "X-ALT-DESC;FMTTYPE=text/html:<p>Old words</p>" } << none;
}

// A VTODO another program wrote, read, changed here as the row says, written back.
void TestIcalCodec::mapsNotesPriorityAndTags()
{
    QFETCH(QByteArray, properties);
    QFETCH(int, priority);
    QFETCH(QStringList, tags);
    QFETCH(QString, edit);
    QFETCH(QByteArrayList, present);
    QFETCH(QByteArrayList, absent);

    const QByteArray resource = calendar("-//Other//EN", "BEGIN:VTODO\nUID:details-1\n"
                                                         "DTSTAMP:20260105T101700Z\n"
                                                         "SUMMARY:Water the plants\n"
                                                                 + properties + "END:VTODO\n");
    const IcalReadResult read = IcalReader::read(resource, IcalReader::Mode::Resource);
    QCOMPARE(read.tasks.size(), 1);
    IcalTask task = read.tasks.first();
    QVERIFY(task.detailsKnown);
    QCOMPARE(task.details.priority, priority);
    QCOMPARE(task.details.tags, tags);

    task.name = QStringLiteral("Water the plants today");
    if (edit == QLatin1String("notes"))
        task.details.notes = QStringLiteral("New words, two lines\nhere");
    if (edit.startsWith(QLatin1String("priority "))) {
        task.details.priority = edit.mid(9).toInt();
        task.details.priorityRaw = -1; // as a change here leaves it
    }
    if (edit.startsWith(QLatin1String("tags ")))
        task.details.tags = edit.mid(5).split(u',');
    const QByteArray written = IcalWriter::writeTask(task, kStamp);
    const QByteArrayList lines = written.split('\n');
    for (const QByteArray &line : present)
        QVERIFY2(lines.contains(line + '\r'), written.constData());
    for (const QByteArray &name : absent) {
        QVERIFY2(std::none_of(lines.begin(), lines.end(),
                              [&](const QByteArray &line) { return line.startsWith(name); }),
                 written.constData());
    }
    const IcalReadResult again = IcalReader::read(written, IcalReader::Mode::Resource);
    QCOMPARE(again.tasks.size(), 1);
    QCOMPARE(again.tasks.first().details.priority, task.details.priority);
    QCOMPARE(again.tasks.first().details.tags, task.details.tags);
    QCOMPARE(again.tasks.first().details.notes, task.details.notes);
}

// A repeating task moved to its next occurrence: DUE and DTSTART move together in their zone,
// the rule counts one less, and the exceptions, extra dates and occurrences stay as written.
void TestIcalCodec::movesSeriesInItsZone()
{
    const QByteArray resource =
            calendar("-//Mozilla.org/NONSGML Mozilla Calendar V1.1//EN", R"(BEGIN:VTODO
UID:gym-1
DTSTAMP:20260101T090000Z
SUMMARY:Gym
RRULE:FREQ=DAILY;COUNT=5
EXDATE;TZID=Europe/Berlin:20260107T090000
RDATE;TZID=Europe/Berlin:20260120T090000
DTSTART;TZID=Europe/Berlin:20260105T090000
DUE;TZID=Europe/Berlin:20260105T100000
X-TARVIK-REPEAT-FROM:COMPLETION
END:VTODO
BEGIN:VTODO
UID:gym-1
RECURRENCE-ID;TZID=Europe/Berlin:20260106T090000
DTSTAMP:20260101T090000Z
SUMMARY:Gym (legs)
DTSTART;TZID=Europe/Berlin:20260106T090000
DUE;TZID=Europe/Berlin:20260106T100000
END:VTODO
)");
    const IcalReadResult read = IcalReader::read(resource, IcalReader::Mode::Resource);
    QCOMPARE(read.tasks.size(), 1);
    IcalTask task = read.tasks.first();
    QVERIFY(task.repeat);
    QCOMPARE(task.repeat->rrule, QByteArray("FREQ=DAILY;COUNT=5"));
    QVERIFY(task.repeat->fromCompletion);
    QCOMPARE(task.repeat->zone, QByteArray("Europe/Berlin"));

    task.due = utc(2026, 1, 6, 9, 0);
    task.repeat->rrule = "FREQ=DAILY;COUNT=4";
    const QByteArray written = IcalWriter::writeTask(task, kStamp);
    for (const char *line : { "\r\nDUE;TZID=Europe/Berlin:20260106T100000\r\n",
                              "\r\nDTSTART;TZID=Europe/Berlin:20260106T090000\r\n",
                              "\r\nRRULE:FREQ=DAILY;COUNT=4\r\n" })
        QVERIFY2(written.contains(line), written.constData());
    QCOMPARE(differences(resource, written,
                         { "DUE", "DTSTART", "RRULE", "DTSTAMP", "LAST-MODIFIED" }),
             QString());

    // The occurrence done, kept as a task of its own, repeats nowhere.
    IcalTask copy;
    copy.uid = QStringLiteral("copy-1");
    copy.name = task.name;
    copy.done = true;
    copy.due = utc(2026, 1, 5, 9, 0);
    QVERIFY(!IcalWriter::writeTask(copy, kStamp).contains("RRULE"));
}

// A rule made here is written with its times in the zone it was made in, with a VTIMEZONE
// another client reads as the system's zone; a zone with a rule no VTIMEZONE can say stays in UTC.
void TestIcalCodec::writesSeriesInItsZone_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QByteArray>("kept");
    QTest::addColumn<QByteArray>("dueLine");

    const QByteArray server = calendar("-//Example//Server//EN", R"(BEGIN:VTODO
UID:plants-1
DTSTAMP:20260101T090000Z
SUMMARY:Water the plants
DUE:20260304T080000Z
END:VTODO
)");
    QTest::newRow("Berlin, new") << QByteArray("Europe/Berlin") << QByteArray()
                                 << QByteArray("DUE;TZID=Europe/Berlin:20260304T090000");
    QTest::newRow("New York, rule added to a kept task")
            << QByteArray("America/New_York") << server
            << QByteArray("DUE;TZID=America/New_York:20260304T030000");
    QTest::newRow("Sydney, new") << QByteArray("Australia/Sydney") << QByteArray()
                                 << QByteArray("DUE;TZID=Australia/Sydney:20260304T190000");
    QTest::newRow("Kolkata, no changes") << QByteArray("Asia/Kolkata") << server
                                         << QByteArray("DUE;TZID=Asia/Kolkata:20260304T133000");
    QTest::newRow("UTC") << QByteArray("UTC") << QByteArray() << QByteArray("DUE:20260304T080000Z");
}

void TestIcalCodec::writesSeriesInItsZone()
{
    QFETCH(QByteArray, zone);
    QFETCH(QByteArray, kept);
    QFETCH(QByteArray, dueLine);

    IcalTask task;
    if (!kept.isEmpty())
        task = IcalReader::read(kept, IcalReader::Mode::Resource).tasks.first();
    task.uid = QStringLiteral("plants-1");
    task.name = QStringLiteral("Water the plants");
    task.due = utc(2026, 3, 4, 8, 0);
    task.repeat = Recurrence::Rule { "FREQ=WEEKLY;BYDAY=WE", false, zone, {} };
    const QByteArray written = IcalWriter::writeTask(task, kStamp);
    QVERIFY2(written.contains("\r\n" + dueLine + "\r\n"), written.constData());
    const IcalReadResult read = IcalReader::read(written, IcalReader::Mode::Resource);
    QCOMPARE(read.tasks.size(), 1);
    QCOMPARE(read.tasks.first().due, task.due);
    QCOMPARE(read.tasks.first().repeat->zone, zone);
    if (!dueLine.contains("TZID"))
        return;

    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("task.ics")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(written) == written.size());
    file.close();
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 { QStringLiteral("-c"), QLatin1String(kZoneOffsets), file.fileName(),
                   QString::fromLatin1(zone), QStringLiteral("2026") });
    QVERIFY(python.waitForFinished(60000));
    QCOMPARE(python.readAllStandardError(), QByteArray());
    QCOMPARE(python.readAllStandardOutput(), QByteArray());
}

void TestIcalCodec::ownAlarm_data()
{
    QTest::addColumn<QByteArray>("kept"); // lines inside the VTODO; empty: never read
    QTest::addColumn<bool>("done");
    QTest::addColumn<bool>("due");
    QTest::addColumn<int>("lead"); // -2: unset
    QTest::addColumn<QByteArray>("trigger"); // of this program's alarm; empty: none
    QTest::addColumn<int>("alarms"); // VALARMs written
    QTest::addColumn<int>("reminder"); // the reminder read from another client's alarm; -1: none

    const QByteArray own = "BEGIN:VALARM\nACTION:DISPLAY\nTRIGGER;RELATED=END:-PT15M\n"
                           "DESCRIPTION:Pay rent\nX-TARVIK-REMINDER:TRUE\nEND:VALARM\n";
    const QByteArray other = "BEGIN:VALARM\nACTION:DISPLAY\nTRIGGER;VALUE=DURATION:-PT1H\n"
                             "DESCRIPTION:Default Mozilla Description\nEND:VALARM\n";
    QTest::newRow("new task, due")
            << QByteArray() << false << true << 15 << QByteArray("-PT15M") << 1 << -1;
    QTest::newRow("new task, at the due time")
            << QByteArray() << false << true << 0 << QByteArray("PT0M") << 1 << -1;
    QTest::newRow("new task, done")
            << QByteArray() << true << true << 15 << QByteArray() << 0 << -1;
    QTest::newRow("new task, no due time")
            << QByteArray() << false << false << 15 << QByteArray() << 0 << -1;
    QTest::newRow("kept without alarms gains one")
            << QByteArray("X-A:1\n") << false << true << 90 << QByteArray("-PT90M") << 1 << -1;
    QTest::newRow("own alarm follows the lead, once")
            << own << false << true << 30 << QByteArray("-PT30M") << 1 << -1;
    QTest::newRow("own alarm goes when done")
            << own << true << true << 30 << QByteArray() << 0 << -1;
    QTest::newRow("own alarm goes for a server that refuses")
            << own << false << true << -1 << QByteArray() << 0 << -1;
    QTest::newRow("unset lead leaves it")
            << own << false << true << -2 << QByteArray("-PT15M") << 1 << -1;
    QTest::newRow("another client's alarm is kept, none added")
            << other << false << true << 15 << QByteArray() << 1 << 60;
    QTest::newRow("another client's alarm beside ours: ours goes")
            << (other + own) << false << true << 15 << QByteArray() << 1 << 60;

    // Other clients' alarms as a reminder here: the first one this program can show.
    const auto alarm = [](const QByteArray &action, const QByteArray &trigger) {
        return "BEGIN:VALARM\nACTION:" + action + "\nTRIGGER" + trigger
               + "\nDESCRIPTION:x\nEND:VALARM\n";
    };
    const QByteArray startAtDue = "DTSTART:20260301T090000Z\n";
    QTest::newRow("read: sound before the due time")
            << alarm("AUDIO", ";RELATED=END:-PT5M") << false << true << -2 << QByteArray() << 1
            << 5;
    QTest::newRow("read: a mail is not a reminder") << alarm("EMAIL", ";RELATED=END:-PT5M") << false
                                                    << true << -2 << QByteArray() << 1 << -1;
    QTest::newRow("read: after the due time is not")
            << alarm("DISPLAY", ";RELATED=END:PT10M") << false << true << -2 << QByteArray() << 1
            << -1;
    QTest::newRow("read: from a start that is the due time")
            << (startAtDue + alarm("DISPLAY", ":-PT10M")) << false << true << -2 << QByteArray()
            << 1 << 10;
    QTest::newRow("read: from an earlier start is not")
            << ("DTSTART:20260301T080000Z\n" + alarm("DISPLAY", ":-PT10M")) << false << true << -2
            << QByteArray() << 1 << -1;
    QTest::newRow("read: at a moment before the due time")
            << alarm("DISPLAY", ";VALUE=DATE-TIME:20260301T083000Z") << false << true << -2
            << QByteArray() << 1 << 30;
    QTest::newRow("read: the first that can be shown")
            << (alarm("EMAIL", ":-PT5M") + alarm("DISPLAY", ";RELATED=END:-P1D")) << false << true
            << -2 << QByteArray() << 2 << 1440;
    QTest::newRow("read: the lead chosen here stays beside it")
            << alarm("DISPLAY", ";RELATED=END:-PT5M") << false << true << 60 << QByteArray() << 1
            << 5;
}

// The reminder other clients read: written, moved or removed as the task asks; another
// program's alarm stays as it was written.
void TestIcalCodec::ownAlarm()
{
    QFETCH(QByteArray, kept);
    QFETCH(bool, done);
    QFETCH(bool, due);
    QFETCH(int, lead);
    QFETCH(QByteArray, trigger);
    QFETCH(int, alarms);
    QFETCH(int, reminder);

    IcalTask task;
    QByteArray resource;
    if (!kept.isEmpty()) {
        resource = calendar("-//Mozilla.org/NONSGML Mozilla Calendar V1.1//EN",
                            "BEGIN:VTODO\nUID:rent-1\nDTSTAMP:20260101T090000Z\n"
                            "SUMMARY:Pay rent\nDUE:20260301T090000Z\n"
                                    + kept + "END:VTODO\n");
        const IcalReadResult read = IcalReader::read(resource, IcalReader::Mode::Resource);
        QCOMPARE(read.tasks.size(), 1);
        task = read.tasks.first();
        QCOMPARE(IcalAlarm::leadIn(resource, utc(2026, 3, 1, 9, 0)).value_or(-1), reminder);
    } else {
        task.uid = QStringLiteral("rent-1");
        task.name = QStringLiteral("Pay rent");
    }
    task.done = done;
    task.due = due ? utc(2026, 3, 1, 9, 0) : QDateTime();
    if (lead != -2)
        task.alarmLead = lead;

    const QByteArray written = IcalWriter::writeTask(task, kStamp);
    QCOMPARE(written.count("BEGIN:VALARM"), alarms);
    QCOMPARE(written.count("END:VALARM"), alarms);
    QCOMPARE(written.count("X-TARVIK-REMINDER:TRUE"), trigger.isEmpty() ? 0 : 1);
    if (!trigger.isEmpty()) {
        QVERIFY2(written.contains("BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER;RELATED=END:" + trigger
                                  + "\r\nDESCRIPTION:Pay rent\r\n"),
                 written.constData());
        // Inside the task, after its own properties.
        QVERIFY(written.indexOf("END:VALARM\r\nEND:VTODO") > written.indexOf("SUMMARY"));
    }
    const IcalReadResult again = IcalReader::read(written, IcalReader::Mode::Resource);
    QVERIFY2(again.error.isEmpty(), qPrintable(again.error));
    QCOMPARE(again.tasks.first().fields(), task.fields());
    if (!kept.isEmpty() && lead == -2)
        QCOMPARE(differences(resource, written, { "DTSTAMP", "LAST-MODIFIED" }), QString());
}

void TestIcalCodec::keptTextTakenAsTheTask_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("done");
    QTest::addColumn<QString>("notes");
    QTest::addColumn<int>("priority"); // as received
    QTest::addColumn<QStringList>("tags");
    QTest::addColumn<QByteArrayList>("edit"); // a line of the text as written, and what it is
    QTest::addColumn<bool>("sure");

    const QString marks = QStringLiteral("Café, März; a\\b \"q\" 🚲: ") + kNewName;
    const QStringList tags { "Work", "Ørsted" };
    QTest::newRow("plain") << "Renew the passport" << false << "" << -1 << QStringList()
                           << QByteArrayList() << true;
    QTest::newRow("escapes, folds, details")
            << marks << true << "two\nlines, with; marks \\ " + marks << 3 << tags
            << QByteArrayList() << true;
    QTest::newRow("spaces the reader folds")
            << "Two  spaces" << false << "" << -1 << QStringList() << QByteArrayList() << false;
    QTest::newRow("tag with a comma")
            << "Plain" << false << "" << -1 << QStringList { "a,b" } << QByteArrayList() << false;
    QTest::newRow("notes with a CR")
            << "Plain" << false << "a\rb" << -1 << QStringList() << QByteArrayList() << false;
    QTest::newRow("STATUS in lower case")
            << "Plain" << true << "" << -1 << QStringList()
            << QByteArrayList { "STATUS:COMPLETED", "STATUS:completed" } << false;
    QTest::newRow("COMPLETED on a pending task")
            << "Plain" << false << "" << -1 << QStringList()
            << QByteArrayList { "STATUS:NEEDS-ACTION", "COMPLETED:20260101T000000Z" } << false;
    QTest::newRow("DUE in a zone, the same time")
            << "Plain" << false << "" << -1 << QStringList()
            << QByteArrayList { "DUE:20260301T090000Z", "DUE;TZID=Europe/Berlin:20260301T100000" }
            << true;
    QTest::newRow("DUE in a zone, another time")
            << "Plain" << false << "" << -1 << QStringList()
            << QByteArrayList { "DUE:20260301T090000Z", "DUE;TZID=Europe/Berlin:20260301T090000" }
            << false;
    // A Europe/Berlin of the text's own, two hours ahead all year, before its VTODO.
    const QByteArray ownBerlin = "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:STANDARD\r\n"
                                 "DTSTART:19700101T000000\r\nTZOFFSETFROM:+0200\r\n"
                                 "TZOFFSETTO:+0200\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"
                                 "BEGIN:VTODO";
    QTest::newRow("DUE in a zone the text defines, the same time")
            << "Plain" << false << "" << -1 << QStringList()
            << QByteArrayList { "DUE:20260301T090000Z", "DUE;TZID=Europe/Berlin:20260301T110000",
                                "BEGIN:VTODO", ownBerlin }
            << true;
    QTest::newRow("DUE in a zone the text defines otherwise")
            << "Plain" << false << "" << -1 << QStringList()
            << QByteArrayList { "DUE:20260301T090000Z", "DUE;TZID=Europe/Berlin:20260301T100000",
                                "BEGIN:VTODO", ownBerlin }
            << false;
    QTest::newRow("a second CATEGORIES")
            << "Plain" << false << "" << -1 << tags
            << QByteArrayList { "END:VTODO", "CATEGORIES:Home\r\nEND:VTODO" } << false;
    QTest::newRow("a line that is no content line")
            << "Plain" << false << "" << -1 << QStringList()
            << QByteArrayList { "END:VTODO", "no line\r\nEND:VTODO" } << false;
    QTest::newRow("a second VTODO") << "Plain" << false << "" << -1 << QStringList()
                                    << QByteArrayList { "END:VTODO", "END:VTODO\r\nBEGIN:VTODO\r\n"
                                                                     "SUMMARY:Other\r\nEND:VTODO" }
                                    << false;
}

// A kept text the writer takes as saying what the task says without reading it with libical
// says so when libical reads it; otherwise it is read.
void TestIcalCodec::keptTextTakenAsTheTask()
{
    QFETCH(QString, name);
    QFETCH(bool, done);
    QFETCH(QString, notes);
    QFETCH(int, priority);
    QFETCH(QStringList, tags);
    QFETCH(QByteArrayList, edit);
    QFETCH(bool, sure);

    IcalTask task;
    task.setFields({ name, done, utc(2026, 3, 1, 9, 0) });
    task.details = { notes, IcalDetails::level(priority), priority, tags };
    task.detailsKnown = true;
    task.calendar = IcalWriter::writeTask(task, kStamp);
    for (qsizetype i = 0; i + 1 < edit.size(); i += 2) // what is replaced, and by what
        task.calendar.replace(edit.at(i) + "\r\n", edit.at(i + 1) + "\r\n");
    QList<IcalNamedLine> own;
    IcalLineReader reader(task.calendar);
    IcalLine line;
    bool nul = false;
    for (int depth = 0; reader.next(line, nul);) {
        const QByteArray property = icalPropertyName(line, task.calendar);
        depth += property == "BEGIN" ? 1 : property == "END" ? -1 : 0;
        if (depth == 2 && property != "BEGIN")
            own.append({ property, icalUnfoldedLine(line, task.calendar) });
    }
    const std::optional<IcalTask> kept = IcalKept::sameAsTask(task, task.calendar, own);
    QCOMPARE(kept.has_value(), sure);
    if (!sure)
        return;
    const IcalReadResult read = IcalReader::read(task.calendar, IcalReader::Mode::Resource);
    QCOMPARE(read.tasks.size(), 1);
    const IcalTask &libical = read.tasks.first();
    QVERIFY(libical.fields() == kept->fields() && libical.due == kept->due);
    QCOMPARE(libical.details.notes, kept->details.notes);
    QCOMPARE(IcalDetails::value(libical.details), IcalDetails::value(kept->details));
    QCOMPARE(libical.details.tags, kept->details.tags);
}

QTEST_GUILESS_MAIN(TestIcalCodec)
#include "tst_icalcodec.moc"
