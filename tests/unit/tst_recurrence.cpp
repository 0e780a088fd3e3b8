// Next occurrences of repeating tasks, checked against an independent implementation of RFC 5545
// rules (python3-dateutil's rrule), and what completing an occurrence does to a task.
#include "recurrence.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

// Prints, for each rule, the epoch seconds of its next five occurrences after the row's time.
const char kOracle[] = R"(
import json, sys
from datetime import datetime
from dateutil import rrule, tz
out = []
for row in json.load(sys.stdin):
    zone = tz.gettz(row['zone'])
    start = datetime.fromisoformat(row['start']).replace(tzinfo=zone)
    rule = rrule.rrulestr(row['rrule'], dtstart=start)
    after = datetime.fromisoformat(row['after']).replace(tzinfo=zone)
    found = []
    while len(found) < 5:
        after = rule.after(after)
        if after is None:
            break
        found.append(int(after.timestamp()))
    out.append(found)
print(json.dumps(out))
)";

struct OracleRow
{
    QString name;
    QString zone;
    QString start;
    QString rrule;
    QString after;
};

const QList<OracleRow> kRows {
    { "daily across spring DST", "Europe/Berlin", "2024-03-28T09:00:00", "FREQ=DAILY",
      "2024-03-29T10:00:00" },
    { "daily across autumn DST", "America/New_York", "2024-11-01T09:00:00", "FREQ=DAILY",
      "2024-11-02T09:00:00" },
    { "every 3 days", "Asia/Kolkata", "2024-01-30T18:30:00", "FREQ=DAILY;INTERVAL=3",
      "2024-02-27T00:00:00" },
    { "weekdays", "Europe/London", "2024-03-29T08:00:00", "FREQ=WEEKLY;BYDAY=MO,TU,WE,TH,FR",
      "2024-03-29T08:00:00" },
    { "weekly on chosen days", "Australia/Sydney", "2024-03-31T07:15:00", "FREQ=WEEKLY;BYDAY=SU,WE",
      "2024-04-02T00:00:00" },
    { "every 2 weeks", "America/Sao_Paulo", "2024-01-01T12:00:00", "FREQ=WEEKLY;INTERVAL=2",
      "2024-02-20T12:00:00" },
    { "monthly on the 31st", "Europe/Paris", "2024-01-31T10:00:00", "FREQ=MONTHLY",
      "2024-01-31T10:00:00" },
    { "monthly by day 31", "UTC", "2024-01-31T10:00:00", "FREQ=MONTHLY;BYMONTHDAY=31",
      "2024-02-01T00:00:00" },
    { "monthly on the last day", "Europe/Berlin", "2024-01-31T09:00:00",
      "FREQ=MONTHLY;BYMONTHDAY=-1", "2024-01-31T09:00:00" },
    { "last Friday", "America/Los_Angeles", "2024-01-26T17:00:00", "FREQ=MONTHLY;BYDAY=-1FR",
      "2024-02-10T00:00:00" },
    { "second Tuesday", "Europe/Berlin", "2024-01-09T19:00:00", "FREQ=MONTHLY;BYDAY=2TU",
      "2024-03-01T00:00:00" },
    { "last weekday of the month", "Europe/Berlin", "2024-01-31T09:00:00",
      "FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR;BYSETPOS=-1", "2024-02-01T00:00:00" },
    { "yearly on Feb 29", "Europe/Berlin", "2024-02-29T09:00:00", "FREQ=YEARLY",
      "2024-02-29T09:00:00" },
    { "yearly Feb 29 by month day", "UTC", "2020-02-29T09:00:00",
      "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=29", "2021-01-01T00:00:00" },
    { "every 2 months", "Asia/Tokyo", "2023-11-30T08:00:00", "FREQ=MONTHLY;INTERVAL=2",
      "2024-01-01T00:00:00" },
    { "count ends", "Europe/Berlin", "2024-03-01T09:00:00", "FREQ=DAILY;COUNT=4",
      "2024-03-01T12:00:00" },
    { "count weekly", "Europe/Berlin", "2024-03-04T09:00:00", "FREQ=WEEKLY;BYDAY=MO,TH;COUNT=5",
      "2024-03-04T09:00:00" },
    { "until in UTC across DST", "Europe/Berlin", "2024-03-28T09:00:00",
      "FREQ=DAILY;UNTIL=20240402T070000Z", "2024-03-29T00:00:00" },
    { "until at the occurrence", "America/New_York", "2024-10-30T09:00:00",
      "FREQ=DAILY;UNTIL=20241104T140000Z", "2024-11-01T00:00:00" },
    // The oracle places a time the clocks skip after the change; the occurrences after it agree.
    { "hourly", "Europe/Berlin", "2024-03-30T22:00:00", "FREQ=HOURLY;INTERVAL=2",
      "2024-03-31T03:30:00" },
    { "late overdue start", "Europe/Berlin", "2023-01-02T09:00:00", "FREQ=WEEKLY;BYDAY=MO",
      "2024-10-20T00:00:00" },
};

QDateTime local(const QString &text, const QTimeZone &zone)
{
    const QDateTime parsed = QDateTime::fromString(text, Qt::ISODate);
    return QDateTime(parsed.date(), parsed.time(), zone);
}

} // namespace

class TestRecurrence : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void nextOccurrences_data();
    void nextOccurrences();
    void completion_data();
    void completion();

private:
    QJsonArray m_oracle;
};

void TestRecurrence::initTestCase()
{
    QJsonArray rows;
    for (const OracleRow &row : kRows)
        rows.append(QJsonObject { { "zone", row.zone },
                                  { "start", row.start },
                                  { "rrule", row.rrule },
                                  { "after", row.after } });
    QProcess python;
    python.start(QStringLiteral("python3"), { QStringLiteral("-c"), QString::fromLatin1(kOracle) });
    QVERIFY(python.waitForStarted());
    python.write(QJsonDocument(rows).toJson());
    python.closeWriteChannel();
    QVERIFY(python.waitForFinished());
    QCOMPARE(python.exitCode(), 0);
    m_oracle = QJsonDocument::fromJson(python.readAllStandardOutput()).array();
    QCOMPARE(m_oracle.size(), kRows.size());
}

void TestRecurrence::nextOccurrences_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < kRows.size(); ++i)
        QTest::newRow(qPrintable(kRows.at(i).name)) << i;
}

// The next five occurrences, each found from the one before, as the oracle finds them.
void TestRecurrence::nextOccurrences()
{
    QFETCH(int, row);
    const OracleRow &rule = kRows.at(row);
    const QTimeZone zone(rule.zone.toLatin1());
    QVERIFY(zone.isValid());
    QList<qint64> found;
    QDateTime after = local(rule.after, zone);
    while (found.size() < 5) {
        after = Recurrence::nextOccurrence(rule.rrule.toLatin1(), local(rule.start, zone), zone,
                                           after);
        if (!after.isValid())
            break;
        found.append(after.toSecsSinceEpoch());
    }
    QList<qint64> expected;
    for (const QJsonValue &value : m_oracle.at(row).toArray())
        expected.append(qint64(value.toDouble()));
    QCOMPARE(found, expected);
}

void TestRecurrence::completion_data()
{
    QTest::addColumn<QByteArray>("rrule");
    QTest::addColumn<bool>("fromCompletion");
    QTest::addColumn<QString>("due");
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("nextDue"); // empty: no occurrence left
    QTest::addColumn<QByteArray>("nextRule");
    QTest::addColumn<QStringList>("excluded"); // occurrences taken out (EXDATE)

    QTest::newRow("on time") << QByteArray("FREQ=DAILY") << false << "2024-03-30T09:00:00"
                             << "2024-03-30T08:00:00"
                             << "2024-03-31T09:00:00" << QByteArray("FREQ=DAILY") << QStringList();
    QTest::newRow("three days late: next is tomorrow")
            << QByteArray("FREQ=DAILY;COUNT=10") << false << "2024-03-27T09:00:00"
            << "2024-03-30T12:00:00"
            << "2024-03-31T09:00:00" << QByteArray("FREQ=DAILY;COUNT=6") << QStringList();
    QTest::newRow("early: the next after the due time")
            << QByteArray("FREQ=WEEKLY;BYDAY=MO") << false << "2024-04-01T09:00:00"
            << "2024-03-25T12:00:00"
            << "2024-04-08T09:00:00" << QByteArray("FREQ=WEEKLY;BYDAY=MO") << QStringList();
    QTest::newRow("last occurrence")
            << QByteArray("FREQ=DAILY;COUNT=1") << false << "2024-03-30T09:00:00"
            << "2024-03-30T10:00:00" << QString() << QByteArray() << QStringList();
    QTest::newRow("past the end date")
            << QByteArray("FREQ=DAILY;UNTIL=20240331T080000Z") << false << "2024-03-30T09:00:00"
            << "2024-04-02T10:00:00" << QString() << QByteArray() << QStringList();
    QTest::newRow("a time the clocks skip: the offset before")
            << QByteArray("FREQ=DAILY") << false << "2024-03-30T02:30:00"
            << "2024-03-30T08:00:00"
            << "2024-03-31T03:30:00" << QByteArray("FREQ=DAILY") << QStringList();
    QTest::newRow("from completion")
            << QByteArray("FREQ=WEEKLY;INTERVAL=2") << true << "2024-03-01T09:00:00"
            << "2024-03-20T14:30:00"
            << "2024-04-03T14:30:00" << QByteArray("FREQ=WEEKLY;INTERVAL=2") << QStringList();
    QTest::newRow("taken out: the one after")
            << QByteArray("FREQ=DAILY;COUNT=10") << false << "2024-03-27T09:00:00"
            << "2024-03-27T10:00:00"
            << "2024-03-29T09:00:00" << QByteArray("FREQ=DAILY;COUNT=8")
            << QStringList { "2024-03-28T09:00:00", "2024-03-30T09:00:00" };
    QTest::newRow("taken out: the last one")
            << QByteArray("FREQ=DAILY;COUNT=2") << false << "2024-03-27T09:00:00"
            << "2024-03-27T10:00:00" << QString() << QByteArray()
            << QStringList { "2024-03-28T09:00:00" };
}

// In Berlin, whose clocks change on 31 March 2024: a task due at 09:00 stays at 09:00.
void TestRecurrence::completion()
{
    QFETCH(QByteArray, rrule);
    QFETCH(bool, fromCompletion);
    QFETCH(QString, due);
    QFETCH(QString, now);
    QFETCH(QString, nextDue);
    QFETCH(QByteArray, nextRule);
    QFETCH(QStringList, excluded);
    const QTimeZone zone("Europe/Berlin");
    Recurrence::Rule rule { rrule, fromCompletion, "Europe/Berlin", {} };
    for (const QString &time : excluded)
        rule.excluded.append(local(time, zone));
    const Recurrence::Advance advance =
            Recurrence::complete(rule, local(due, zone), QDateTime(), local(now, zone));
    QCOMPARE(advance.repeats, !nextDue.isEmpty());
    if (advance.repeats) {
        QCOMPARE(advance.due, local(nextDue, zone));
        QCOMPARE(advance.rrule, nextRule);
    }
}

QTEST_GUILESS_MAIN(TestRecurrence)
#include "tst_recurrence.moc"
