#include "vtodotext.h"

#include <QTest>

namespace {

const QDateTime kModified(QDate(2026, 12, 7), QTime(10, 0), Qt::UTC);
const QDateTime kDue(QDate(2027, 1, 2), QTime(9, 30), Qt::UTC);

QString calendar(const QString &todoLines)
{
    return QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\n"
                          "BEGIN:VTODO\r\nUID:u1\r\n")
           + todoLines + QStringLiteral("END:VTODO\r\nEND:VCALENDAR\r\n");
}

} // namespace

class TestVTodoText : public QObject
{
    Q_OBJECT

private slots:
    void read_data();
    void read();
    void update_data();
    void update();
};

void TestVTodoText::read_data()
{
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("done");
    QTest::addColumn<QDateTime>("due");

    QTest::newRow("UTC due") << "SUMMARY:Pay\r\nDUE:20270102T093000Z\r\n"
                             << "Pay" << false << kDue;
    QTest::newRow("due with a TZID") << "SUMMARY:Pay\r\nDUE;TZID=Europe/Berlin:20270102T103000\r\n"
                                     << "Pay" << false << kDue;
    QTest::newRow("date only: the end of that day here")
            << "SUMMARY:Pay\r\nDUE;VALUE=DATE:20270102\r\n"
            << "Pay" << false << QDateTime(QDate(2027, 1, 2), QTime(23, 59)).toUTC();
    QTest::newRow("COMPLETED without STATUS") << "SUMMARY:Pay\r\nCOMPLETED:20261201T000000Z\r\n"
                                              << "Pay" << true << QDateTime();
    QTest::newRow("folded, escaped, non-ASCII")
            << "SUMMARY:Pay the r\r\n ent\\, then café\\; call\\nmum\r\n"
            << "Pay the rent, then café; call\nmum" << false << QDateTime();
    QTest::newRow("an alarm's properties are not the task's")
            << "SUMMARY:Pay\r\nBEGIN:VALARM\r\nSUMMARY:Alarm\r\nEND:VALARM\r\n"
            << "Pay" << false << QDateTime();
}

void TestVTodoText::read()
{
    QFETCH(QString, lines);
    QFETCH(QString, name);
    QFETCH(bool, done);
    QFETCH(QDateTime, due);

    const VTodo todo = VTodoText::read(calendar(lines));
    QVERIFY(todo.valid);
    QCOMPARE(todo.uid, QStringLiteral("u1"));
    QCOMPARE(todo.fields.name, name);
    QCOMPARE(todo.fields.done, done);
    QCOMPARE(todo.fields.due, due);
}

void TestVTodoText::update_data()
{
    QTest::addColumn<QString>("lines");
    QTest::addColumn<TaskFields>("after");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");

    const TaskFields before { QStringLiteral("Pay"), false, kDue };
    const QString kept = QStringLiteral("SUMMARY:Pay\r\nDUE;TZID=Europe/Berlin:20270102T103000\r\n"
                                        "RRULE:FREQ=MONTHLY\r\nX-OTHER:1\r\n"
                                        "BEGIN:VALARM\r\nTRIGGER:-PT5M\r\nEND:VALARM\r\n");
    QTest::newRow("only the name changes")
            << kept << TaskFields { QStringLiteral("Pay rent"), false, kDue }
            << QStringList { "SUMMARY:Pay rent", "DUE;TZID=Europe/Berlin:20270102T103000",
                             "RRULE:FREQ=MONTHLY", "X-OTHER:1", "TRIGGER:-PT5M" }
            << QStringList { "SUMMARY:Pay\r\n", "STATUS" };
    QTest::newRow("done, due moved")
            << kept + QStringLiteral("DURATION:PT1H\r\n")
            << TaskFields { QStringLiteral("Pay"), true, kDue.addDays(1) }
            << QStringList { "STATUS:COMPLETED", "COMPLETED:20261207T100000Z",
                             "DUE:20270103T093000Z", "LAST-MODIFIED:20261207T100000Z" }
            << QStringList { "TZID", "DURATION" };
    QTest::newRow("long non-ASCII name folded between characters")
            << kept << TaskFields { QString(40, QChar(0x00E9)), false, kDue }
            << QStringList { "\r\n " } << QStringList { QString(QChar(0xFFFD)) };
}

void TestVTodoText::update()
{
    QFETCH(QString, lines);
    QFETCH(TaskFields, after);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);

    const TaskFields before { QStringLiteral("Pay"), false, kDue };
    const QString text = VTodoText::update(calendar(lines), before, after, kModified);
    for (const QString &part : present)
        QVERIFY2(text.contains(part), qPrintable(part + QLatin1String(" missing in\n") + text));
    for (const QString &part : absent)
        QVERIFY2(!text.contains(part), qPrintable(part + QLatin1String(" left in\n") + text));
    for (const QString &line : text.split(QStringLiteral("\r\n")))
        QVERIFY2(line.toUtf8().size() <= 75, qPrintable(line));
    QCOMPARE(VTodoText::read(text).fields, after);
}

QTEST_GUILESS_MAIN(TestVTodoText)
#include "tst_vtodotext.moc"
