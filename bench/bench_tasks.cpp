// Page flips, search keystrokes and the reminder query on databases of ten accounts with
// N tasks each, measured through the program's own services.
#include "authservice.h"
#include "benchdata.h"
#include "benchstats.h"
#include "dbmanager.h"
#include "duetasks.h"
#include "notificationservice.h"
#include "settingsservice.h"
#include "taskservice.h"
#include "tasksql.h"
#include "tasktablemodel.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QMap>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QVariant>

// The reminder service runs its check from a private timer slot and opens it only to its test
// class; the benchmark borrows that class's name to run one check directly.
class TestNotificationService
{
public:
    static void check(NotificationService &notifier) { notifier.checkDueTasks(); }
};

namespace {

const auto kRowsSql = QStringLiteral("\n"
                                     "    SELECT id, name, active, expire_at, create_at\n"
                                     "    FROM tasks\n"
                                     "    WHERE user_id = :uid\n"
                                     "    "
                                     "\n"
                                     "    ORDER BY create_at DESC\n"
                                     "    LIMIT :lim OFFSET :off\n"
                                     "    ");
const auto kScanSql =
        QStringLiteral("SELECT COUNT(*) FROM tasks WHERE user_id = :uid AND name LIKE :name");

// The word typed into the search field, one character per keystroke.
const auto kSearchWord = QStringLiteral("report");

// Reads every column of every row, as the task service does, then releases the statement.
int drain(QSqlQuery &query)
{
    int rows = 0;
    if (query.exec()) {
        while (query.next()) {
            for (int column = 0; column < query.record().count(); ++column)
                query.value(column);
            ++rows;
        }
    }
    query.finish();
    return rows;
}

struct Figures
{
    Samples firstOpen;
    Samples flip;
    Samples flipRef;
    Samples lastFlip;
    Samples lastFlipRef;
    Samples keystroke;
    Samples keystrokeRef;
    Samples dueTasks;
    Samples nextDue;
    Samples dueRef;
    Samples check;
    Samples checkDay;
    Samples dueDayRef;
    Samples repeatDone;
    Samples plainDone;
    int pages = 0;
    int dueCount = 0;
    int dueDayCount = 0;
};

bool measure(const QString &database, int runs, Figures &f)
{
    DbManager db;
    f.firstOpen.add(timeMs([&] {
        db.open(database);
        db.initSchema();
    }));
    TaskTableModel model;
    AuthService auth(&db);
    TaskService service(&db, &auth, &model);
    SettingsService settings;
    settings.setNotifyMinutes(10);
    settings.setSoundFile(QString());
    DueTasks due(&db, &auth);
    NotificationService notifier(&due, &settings);
    if (!auth.login(BenchData::measuredAccount(), BenchData::password()))
        return false;
    service.setPageSize(25);
    service.setFilterActive(-1);
    service.setFilterName(QString());
    service.loadPage(1);
    f.pages = service.totalPages();
    const int userId = auth.userId();

    // One pending task in a hundred with a due time repeats daily, as a person's list might: the
    // list marks them, and Done moves one to its next occurrence and keeps a Done copy.
    QSqlQuery repeating(db.database());
    repeating.prepare(QStringLiteral(
            "INSERT OR IGNORE INTO task_repeat (task_id, user_id, rrule, zone) SELECT id, user_id, "
            "'FREQ=DAILY', 'UTC' FROM tasks WHERE user_id = :uid AND active = 0 AND "
            "expire_at_epoch IS NOT NULL AND id % 100 = 0"));
    repeating.bindValue(QStringLiteral(":uid"), userId);
    if (!repeating.exec())
        return false;
    auto pendingIds = [&](bool repeats) {
        QSqlQuery query(db.database());
        query.prepare(QStringLiteral("SELECT id FROM tasks WHERE user_id = :uid AND active = 0 "
                                     "AND expire_at_epoch IS NOT NULL AND id %1 IN (SELECT "
                                     "task_id FROM task_repeat) LIMIT :n")
                              .arg(repeats ? QString() : QStringLiteral("NOT")));
        query.bindValue(QStringLiteral(":uid"), userId);
        query.bindValue(QStringLiteral(":n"), runs * 5);
        QList<qint64> ids;
        if (query.exec()) {
            while (query.next())
                ids << query.value(0).toLongLong();
        }
        return ids;
    };
    const QList<qint64> repeatIds = pendingIds(true);
    const QList<qint64> plainIds = pendingIds(false);

    QSqlQuery rowsRef(db.database());
    rowsRef.prepare(kRowsSql);
    auto pageRef = [&](int page) {
        rowsRef.bindValue(QStringLiteral(":uid"), userId);
        rowsRef.bindValue(QStringLiteral(":lim"), service.pageSize());
        rowsRef.bindValue(QStringLiteral(":off"), qint64(page - 1) * service.pageSize());
        drain(rowsRef);
    };
    QSqlQuery scanRef(db.database());
    scanRef.prepare(kScanSql);
    QSqlQuery dueRef(db.database());
    dueRef.prepare(TaskSql::dueBetween());
    auto dueStatement = [&](int minutes) {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        dueRef.bindValue(QStringLiteral(":uid"), userId);
        dueRef.bindValue(QStringLiteral(":now"), now);
        dueRef.bindValue(QStringLiteral(":lim"), now + minutes * 60);
        return drain(dueRef);
    };

    for (int run = 0; run < runs; ++run) {
        // Flipping forward through the first pages, one page at a time.
        service.loadPage(1);
        for (int page = 2; page <= qMin(11, f.pages); ++page) {
            f.flip.add(timeMs([&] { service.loadPage(page); }));
            f.flipRef.add(timeMs([&] { pageRef(page); }));
        }
        // Back and forth at the end of the list, where the offset is largest.
        for (int i = 0; i < 4 && f.pages > 1; ++i) {
            const int page = f.pages - (i % 2);
            f.lastFlip.add(timeMs([&] { service.loadPage(page); }));
            f.lastFlipRef.add(timeMs([&] { pageRef(page); }));
        }
        // Typing a word into the search field, then clearing it (not timed).
        for (int length = 1; length <= kSearchWord.size(); ++length) {
            const QString text = kSearchWord.left(length);
            f.keystroke.add(timeMs([&] { service.setFilterName(text); }));
            f.keystrokeRef.add(timeMs([&] {
                scanRef.bindValue(QStringLiteral(":uid"), userId);
                scanRef.bindValue(QStringLiteral(":name"),
                                  QStringLiteral("%") + text + QStringLiteral("%"));
                drain(scanRef);
            }));
        }
        service.setFilterName(QString());
        // The reminder query, as the one-minute check asks it.
        for (int i = 0; i < 10; ++i) {
            f.dueTasks.add(timeMs([&] { f.dueCount = int(service.dueTasks(10).size()); }));
            f.nextDue.add(timeMs([&] { service.nextDueTask(10); }));
            f.check.add(timeMs([&] { TestNotificationService::check(notifier); }));
            f.dueRef.add(timeMs([&] { dueStatement(10); }));
        }
        // With a lead time of a day the check walks every task due within the day.
        settings.setNotifyMinutes(24 * 60);
        for (int i = 0; i < 10; ++i) {
            f.checkDay.add(timeMs([&] { TestNotificationService::check(notifier); }));
            f.dueDayRef.add(timeMs([&] { f.dueDayCount = dueStatement(24 * 60); }));
        }
        settings.setNotifyMinutes(10);
        // Done on a repeating task beside Done on a plain one (the page stays loaded).
        for (int i = run * 5; i < run * 5 + 5 && i < repeatIds.size() && i < plainIds.size(); ++i) {
            f.repeatDone.add(timeMs([&] { service.setTaskDone(repeatIds.at(i), true); }));
            f.plainDone.add(timeMs([&] { service.setTaskDone(plainIds.at(i), true); }));
        }
    }
    return true;
}

QString sizeText(int n)
{
    return QLocale(QLocale::English).toString(n);
}

} // namespace

int main(int argc, char *argv[])
{
    // Private settings and data directories: the benchmark never touches the user's own.
    QTemporaryDir home;
    for (const char *name : { "HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME" }) {
        const QString dir = home.filePath(QString::fromLatin1(name));
        QDir().mkpath(dir);
        qputenv(name, dir.toLocal8Bit());
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const BenchData::Options options = BenchData::Options::fromEnvironment();
    const int runs = options.runs;
    const QString &cacheDir = options.cacheDir;
    const QList<int> &sizes = options.sizes;

    QTextStream out(stdout);
    out << "### Task list and reminder query, " << BenchData::kAccounts
        << " accounts with N tasks each, page size 25, " << runs << " runs\n\n";
    out.flush();

    QMap<int, Figures> results;
    for (int n : sizes) {
        const QString cached = BenchData::cachedDatabase(cacheDir, n);
        const QString work = home.filePath(QStringLiteral("work-%1.db").arg(n));
        if (cached.isEmpty() || !BenchData::copyDatabase(cached, work)) {
            out << "error: cannot prepare the database with " << n << " tasks per account\n";
            return 1;
        }
        Figures &f = results[n];
        if (!measure(work, runs, f)) {
            out << "error: the benchmark account cannot sign in\n";
            return 1;
        }
        QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
        QFile::remove(work);
    }

    ResultTable table(out);
    table.header();
    for (auto it = results.cbegin(); it != results.cend(); ++it) {
        const QString n = sizeText(it.key());
        const Figures &f = it.value();
        table.row(QStringLiteral("page flip, loadPage(2..11)"), n, f.flip,
                  QStringLiteral("rows statement alone"), f.flipRef, QStringLiteral("<= 5 ms"));
        table.row(QStringLiteral("page flip at the end (%1 pages)").arg(f.pages), n, f.lastFlip,
                  QStringLiteral("rows statement alone"), f.lastFlipRef, QStringLiteral("<= 5 ms"));
        table.row(QStringLiteral("keystroke, setFilterName(\"%1\" typed)").arg(kSearchWord), n,
                  f.keystroke, QStringLiteral("one LIKE scan of the account"), f.keystrokeRef,
                  QStringLiteral("<= 16 ms"));
        table.row(QStringLiteral("reminder check, 10 minutes ahead (%1 due)").arg(f.dueCount), n,
                  f.check, QStringLiteral("its dueTasks statement alone"), f.dueRef,
                  QStringLiteral("<= 1 ms"));
        table.row(QStringLiteral("reminder check, a day ahead (%1 due)").arg(f.dueDayCount), n,
                  f.checkDay, QStringLiteral("its dueTasks statement alone"), f.dueDayRef,
                  QStringLiteral("report"));
        table.row(QStringLiteral("Done on a repeating task, setTaskDone"), n, f.repeatDone,
                  QStringLiteral("Done on a plain task"), f.plainDone, QStringLiteral("report"));
        table.row(QStringLiteral("dueTasks(10)"), n, f.dueTasks,
                  QStringLiteral("its statement alone"), f.dueRef, QStringLiteral("report"));
        table.row(QStringLiteral("nextDueTask(10)"), n, f.nextDue,
                  QStringLiteral("dueTasks statement alone"), f.dueRef, QStringLiteral("report"));
    }

    out << "\nGrowth with N (medians, ms):\n\n| Figure |";
    for (int n : sizes)
        out << " N = " << sizeText(n) << " |";
    out << " last / first |\n|---|";
    for (int i = 0; i <= sizes.size(); ++i)
        out << "---:|";
    out << "\n";
    auto growth = [&](const QString &name, Samples Figures::*member) {
        out << "| " << name << " |";
        for (int n : sizes)
            out << " " << fixed((results[n].*member).median()) << " |";
        out << " "
            << fixed((results[sizes.last()].*member).median()
                             / (results[sizes.first()].*member).median(),
                     1)
            << "x |\n";
    };
    growth(QStringLiteral("first open of the file (builds missing indexes)"), &Figures::firstOpen);
    growth(QStringLiteral("page flip"), &Figures::flip);
    growth(QStringLiteral("page flip at the end"), &Figures::lastFlip);
    growth(QStringLiteral("keystroke"), &Figures::keystroke);
    growth(QStringLiteral("one LIKE scan (floor)"), &Figures::keystrokeRef);
    growth(QStringLiteral("reminder check, 10 minutes ahead"), &Figures::check);
    growth(QStringLiteral("reminder check, a day ahead"), &Figures::checkDay);
    growth(QStringLiteral("dueTasks(10)"), &Figures::dueTasks);
    growth(QStringLiteral("nextDueTask(10)"), &Figures::nextDue);
    out << "\n";
    return 0;
}
