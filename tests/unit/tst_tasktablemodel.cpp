#include "tasktablemodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

namespace {

TaskRow makeRow(int id, const QString &name, bool active = false,
                const QDateTime &expireAt = QDateTime(), const QDateTime &createAt = QDateTime())
{
    TaskRow row;
    row.id = id;
    row.name = name;
    row.active = active;
    row.expireAt = expireAt;
    row.createAt = createAt;
    return row;
}

} // namespace

class TestTaskTableModel : public QObject
{
    Q_OBJECT

private slots:
    void neutralValuesOutOfRange_data();
    void neutralValuesOutOfRange();
    void headers_data();
    void headers();
    void displayValues();
    void otherRolesAreEmpty();
    void englishNamesWhateverTheLocale();
    void rowForIdTakesFirstMatch();
    void setRowsIsOneReset();
};

void TestTaskTableModel::neutralValuesOutOfRange_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("probe");

    QTest::newRow("fresh model, row 0") << 0 << 0;
    QTest::newRow("negative row") << 2 << -1;
    QTest::newRow("one past the end") << 2 << 2;
    QTest::newRow("far past the end") << 2 << 1000000;
}

void TestTaskTableModel::neutralValuesOutOfRange()
{
    QFETCH(int, rows);
    QFETCH(int, probe);

    TaskTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QList<TaskRow> list;
    for (int i = 0; i < rows; ++i)
        list << makeRow(i + 1, QStringLiteral("task"), true, QDateTime::currentDateTime(),
                        QDateTime::currentDateTime());
    model.setRows(list);

    QCOMPARE(model.rowCountQml(), rows);
    QCOMPARE(model.rowCount(), rows);
    QCOMPARE(model.columnCount(), 5);
    QCOMPARE(model.taskIdAt(probe), -1);
    QCOMPARE(model.nameAt(probe), QString());
    QCOMPARE(model.activeAt(probe), false);
    QVERIFY(!model.expireAt(probe).isValid());
    QVERIFY(!model.createAt(probe).isValid());
    QCOMPARE(model.rowForId(probe + 100), -1);
    QVERIFY(!model.data(model.index(probe, 1)).isValid());
}

void TestTaskTableModel::headers_data()
{
    QTest::addColumn<int>("section");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("expected");

    const QStringList texts { "ID", "Name", "Active", "Expire at", "Created at" };
    for (int section = 0; section < texts.size(); ++section)
        QTest::addRow("column %d", section) << section << int(Qt::Horizontal)
                                            << int(Qt::DisplayRole) << QVariant(texts[section]);
    QTest::newRow("section 5") << 5 << int(Qt::Horizontal) << int(Qt::DisplayRole) << QVariant();
    QTest::newRow("negative section")
            << -1 << int(Qt::Horizontal) << int(Qt::DisplayRole) << QVariant();
    QTest::newRow("vertical") << 0 << int(Qt::Vertical) << int(Qt::DisplayRole) << QVariant();
    QTest::newRow("edit role") << 0 << int(Qt::Horizontal) << int(Qt::EditRole) << QVariant();
    QTest::newRow("tool tip role")
            << 1 << int(Qt::Horizontal) << int(Qt::ToolTipRole) << QVariant();
}

void TestTaskTableModel::headers()
{
    QFETCH(int, section);
    QFETCH(int, orientation);
    QFETCH(int, role);
    QFETCH(QVariant, expected);

    TaskTableModel model;
    QCOMPARE(model.headerData(section, Qt::Orientation(orientation), role), expected);
}

void TestTaskTableModel::displayValues()
{
    TaskTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QDateTime due(QDate(2030, 1, 15), QTime(9, 5, 30));
    const QDateTime created(QDate(2029, 12, 31), QTime(23, 59));
    model.setRows({ makeRow(7, QStringLiteral("Pay rent"), true, due, created),
                    makeRow(8, QStringLiteral("No due time")) });

    QCOMPARE(model.data(model.index(0, 0)), QVariant(7));
    QCOMPARE(model.data(model.index(0, 1)), QVariant(QStringLiteral("Pay rent")));
    // The Done column is a bool, which the view paints as a dot, not text.
    QCOMPARE(model.data(model.index(0, 2)).typeId(), QMetaType::Bool);
    QCOMPARE(model.data(model.index(0, 2)).toBool(), true);
    QCOMPARE(model.data(model.index(1, 2)).toBool(), false);
    // A time in another year than this one says which.
    QCOMPARE(model.data(model.index(0, 3)).toString(), QStringLiteral("Tue 15 January 2030 09:05"));
    QCOMPARE(model.data(model.index(0, 4)).toString(),
             QStringLiteral("Mon 31 December 2029 23:59"));
    QCOMPARE(model.data(model.index(1, 3)), QVariant(QString()));
    QCOMPARE(model.data(model.index(1, 4)), QVariant(QString()));
    QVERIFY(!model.expireAt(1).isValid());
    QCOMPARE(model.expireAt(0), due);
    QCOMPARE(model.createAt(0), created);
    QCOMPARE(model.taskIdAt(1), 8);
    QCOMPARE(model.nameAt(0), QStringLiteral("Pay rent"));
    QVERIFY(model.activeAt(0));
}

void TestTaskTableModel::otherRolesAreEmpty()
{
    TaskTableModel model;
    model.setRows({ makeRow(1, QStringLiteral("x"), true, QDateTime::currentDateTime()) });
    for (int column = 0; column < 5; ++column) {
        for (int role : { int(Qt::EditRole), int(Qt::ToolTipRole), int(Qt::UserRole) })
            QVERIFY(!model.data(model.index(0, column), role).isValid());
    }
    QVERIFY(!model.data(QModelIndex()).isValid());
}

void TestTaskTableModel::englishNamesWhateverTheLocale()
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TaskTableModel model;
    model.setRows(
            { makeRow(1, QStringLiteral("x"), false, QDateTime(QDate(2026, 3, 1), QTime(14, 5)),
                      QDateTime(QDate(2026, 5, 7), QTime(8, 0))) });
    const QString due = model.data(model.index(0, 3)).toString();
    const QString created = model.data(model.index(0, 4)).toString();
    QLocale::setDefault(previous);

    QCOMPARE(due, QStringLiteral("Sun 01 March 14:05"));
    QCOMPARE(created, QStringLiteral("Thu 07 May 08:00"));
}

void TestTaskTableModel::rowForIdTakesFirstMatch()
{
    TaskTableModel model;
    model.setRows({ makeRow(3, QStringLiteral("a")), makeRow(5, QStringLiteral("b")),
                    makeRow(5, QStringLiteral("c")) });
    QCOMPARE(model.rowForId(3), 0);
    QCOMPARE(model.rowForId(5), 1);
    QCOMPARE(model.rowForId(4), -1);
}

void TestTaskTableModel::setRowsIsOneReset()
{
    TaskTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy aboutToReset(&model, &QAbstractItemModel::modelAboutToBeReset);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);

    model.setRows({ makeRow(1, QStringLiteral("a")), makeRow(2, QStringLiteral("b")) });
    QCOMPARE(aboutToReset.count(), 1);
    QCOMPARE(reset.count(), 1);
    QCOMPARE(model.rowCount(), 2);

    model.setRows({});
    QCOMPARE(reset.count(), 2);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(inserted.count(), 0);
}

QTEST_GUILESS_MAIN(TestTaskTableModel)
#include "tst_tasktablemodel.moc"
