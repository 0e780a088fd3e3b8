#include "caldavdiscovery.h"
#include "fakecaldav.h"
#include "fixture.h"
#include "syncengine.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QUuid>

#include <functional>
#include <utility>

using Rules = QList<FakeCalDav::Rule>;
Q_DECLARE_METATYPE(Rules)

namespace {

const QUrl kCollection(QStringLiteral("https://dav.example/dav/tasks/"));

DavResponse reply(int status, const QByteArray &location = {}, const QByteArray &body = {})
{
    DavResponse response;
    response.status = status;
    response.location = location;
    response.body = body;
    return response;
}

// The scripted server, which can run a step here while the sync waits for an answer.
class HookedCalDav : public FakeCalDav
{
public:
    using FakeCalDav::FakeCalDav;

    std::function<void()> beforeFetch; // run once, when the tasks are fetched

    quint64 send(const DavRequest &request, Done done) override
    {
        if (beforeFetch && request.body.contains("calendar-multiget"))
            std::exchange(beforeFetch, nullptr)();
        return FakeCalDav::send(request, std::move(done));
    }
};

// A repeating task whose moved occurrence comes before it, as RFC 5545 allows.
const QByteArray kRepeating = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\n"
                              "BEGIN:VTODO\r\nUID:rep-1\r\nDTSTAMP:20260101T100000Z\r\n"
                              "RECURRENCE-ID:20260105T090000Z\r\nDTSTART:20260106T090000Z\r\n"
                              "SUMMARY:Water plants (moved)\r\nEND:VTODO\r\n"
                              "BEGIN:VTODO\r\nUID:rep-1\r\nDTSTAMP:20260101T100000Z\r\n"
                              "DTSTART:20260101T090000Z\r\nRRULE:FREQ=DAILY\r\n"
                              "SUMMARY:Water plants\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";

// The tasks of account 1 in one database file, synced by an engine over the scripted server.
class Profile
{
public:
    Profile(const QString &templatePath, CalDavTransport *transport, const QString &server)
        : m_name(QUuid::createUuid().toString(QUuid::WithoutBraces))
    {
        const QString path = testEnvironment.newDatabasePath();
        QFile::copy(templatePath, path);
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        m_db.setDatabaseName(path);
        m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=0"));
        m_db.open();
        engine = std::make_unique<SyncEngine>(m_db, transport);
        // The scripted server takes writes that meet; the real servers' tests send one at a time.
        engine->setRequestsInFlight(4);
        SyncAccount account;
        account.userId = 1;
        account.serverUrl = server;
        account.userName = QStringLiteral("sam");
        account.collectionUrl = kCollection.toString();
        engine->store().saveAccount(account);
    }
    ~Profile()
    {
        engine.reset();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
    }

    SyncError sync()
    {
        SyncAccount account;
        engine->store().loadAccount(1, account);
        QSignalSpy finished(engine.get(), &SyncEngine::finished);
        engine->start(account, QStringLiteral("secret"));
        if (!finished.wait(10000))
            return SyncError::Unreachable;
        return finished.first().first().value<SyncError>();
    }

    bool exec(const QString &sql, const QVariantList &values)
    {
        QSqlQuery query(m_db);
        query.prepare(sql);
        for (const QVariant &value : values)
            query.addBindValue(value);
        return query.exec();
    }

    // The own reminder of the task called name: -2 when it follows the account's.
    int reminder(const QString &name) const
    {
        QSqlQuery query(m_db);
        query.prepare(QStringLiteral("SELECT ifnull((SELECT lead_minutes FROM task_reminders "
                                     "WHERE task_id = tasks.id), -2) FROM tasks WHERE name = ?"));
        query.addBindValue(name);
        return query.exec() && query.next() ? query.value(0).toInt() : -3;
    }
    // The notes, priority, priority received and tags of the task called name, "|"-separated.
    QString details(const QString &name) const
    {
        QSqlQuery query(m_db);
        query.prepare(QStringLiteral("SELECT ifnull(notes, '') || '|' || priority || '|' || "
                                     "ifnull(priority_raw, '') || '|' || ifnull(tags, '') FROM "
                                     "task_details JOIN tasks ON id = task_id WHERE name = ?"));
        query.addBindValue(name);
        return query.exec() && query.next() ? query.value(0).toString() : QString();
    }

    QByteArray fileDigest() const
    {
        QFile file(m_db.databaseName());
        return file.open(QIODevice::ReadOnly)
                       ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                       : QByteArray();
    }

    QStringList tasks() const
    {
        QStringList names;
        QSqlQuery query(QStringLiteral("SELECT name FROM tasks WHERE user_id = 1"), m_db);
        while (query.next())
            names << query.value(0).toString();
        names.sort();
        return names;
    }

    std::unique_ptr<SyncEngine> engine;

private:
    QString m_name;
    QSqlDatabase m_db;
};

} // namespace

class TestSyncDecisions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void engine_data();
    void engine();
    void discovery_data();
    void discovery();
    void stoppedAndIdlePasses();

private:
    QString m_template;
};

void TestSyncDecisions::initTestCase()
{
    qRegisterMetaType<SyncError>();
    m_template = testEnvironment.newDatabasePath();
    TaskServices services(m_template);
    QVERIFY(services.opened);
    QCOMPARE(signUp(services.auth, QStringLiteral("sam")), 1);
}

// Each row runs its steps, each a sync or a change on one side ("here+ name", "here- name",
// "here~ old>new", and the same with "there"), then installs its scripted answers and syncs once
// more.
void TestSyncDecisions::engine_data()
{
    QTest::addColumn<QString>("typedServer");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<Rules>("rules");
    QTest::addColumn<SyncError>("error");
    QTest::addColumn<QStringList>("here");
    QTest::addColumn<QStringList>("there");

    const QString typed = CalDavClient::originOf(kCollection).toString();
    const QString elsewhere = QStringLiteral("https://elsewhere.example/dav/tasks/");
    const QStringList rent { QStringLiteral("Pay rent") };

    QTest::newRow("created there arrives here") << typed << QStringList { "there+ Pay rent" }
                                                << Rules() << SyncError::None << rent << rent;
    QTest::newRow("created here is uploaded") << typed << QStringList { "here+ Pay rent" }
                                              << Rules() << SyncError::None << rent << rent;
    QTest::newRow("renamed here is uploaded")
            << typed << QStringList { "here+ Pay", "sync", "here~ Pay>Pay rent" } << Rules()
            << SyncError::None << rent << rent;
    QTest::newRow("deleted here is deleted there")
            << typed << QStringList { "here+ Pay rent", "sync", "here- Pay rent" } << Rules()
            << SyncError::None << QStringList() << QStringList();
    QTest::newRow("renamed there arrives here")
            << typed << QStringList { "there+ Pay", "sync", "there~ Pay>Pay rent" } << Rules()
            << SyncError::None << rent << rent;
    QTest::newRow("deleted there is deleted here")
            << typed << QStringList { "there+ Pay rent", "sync", "there- Pay rent" } << Rules()
            << SyncError::None << QStringList() << QStringList();
    QTest::newRow("a PUT refused with 404 every time is no success")
            << typed << QStringList { "here+ Pay rent" } << Rules { { "PUT", "", reply(404), 99 } }
            << SyncError::ServerError << rent << QStringList();

    QTest::newRow("a PUT refused with 412 every time is no success")
            << typed << QStringList { "here+ Pay rent" } << Rules { { "PUT", "", reply(412), 99 } }
            << SyncError::ServerError << rent << QStringList();

    // A collection made again (its token refused) is a fresh start: nothing is deleted here.
    const DavResponse refused = reply(403, {},
                                      "<d:error xmlns:d=\"DAV:\"><d:valid-sync-token/>"
                                      "</d:error>");
    QTest::newRow("a refused token and an empty list keep the tasks and upload them")
            << typed << QStringList { "here+ Pay rent", "sync", "there- Pay rent" }
            << Rules { { "REPORT", "", refused } } << SyncError::None << rent << rent;
    // A collection made again may answer the old token with an empty listing and a new token
    // instead: the full listing that follows finds the tasks gone, and they are sent again.
    const DavResponse emptied = reply(207, {},
                                      "<d:multistatus xmlns:d=\"DAV:\"><d:sync-token>fake-99"
                                      "</d:sync-token></d:multistatus>");
    QTest::newRow("an old token answered with nothing by a new list keeps and uploads the tasks")
            << typed << QStringList { "here+ Pay rent", "sync", "there- Pay rent" }
            << Rules { { "REPORT", "", emptied } } << SyncError::None << rent << rent;
    // More than a batch of records, written while tasks are being sent.
    QStringList many, manyMade, manyGone;
    for (int i = 1; i <= 60; ++i) {
        many << QStringLiteral("Task %1").arg(i, 2, 10, QLatin1Char('0'));
        manyMade << QStringLiteral("here+ ") + many.last();
        manyGone << QStringLiteral("there- ") + many.last();
    }
    QTest::newRow("many deletions from the server wait for the person")
            << typed << manyMade + QStringList { "sync" } + manyGone << Rules()
            << SyncError::ManyDeletions << many << QStringList();
    QTest::newRow("many deletions kept are uploaded again")
            << typed
            << manyMade + QStringList { "sync" } + manyGone + QStringList { "sync!", "keep" }
            << Rules() << SyncError::None << many << many;

    // A failed write here keeps nothing of the pass, its token neither.
    QTest::newRow("a task that cannot be written arrives on the next sync")
            << typed << QStringList { "there+ Pay rent", "refuse Pay rent", "sync!", "accept" }
            << Rules() << SyncError::None << rent << rent;

    // A task is known by its UID, whatever gave it.
    QTest::newRow("the same list again after stopping doubles nothing")
            << typed << QStringList { "here+ Pay rent", "sync", "forget" } << Rules()
            << SyncError::None << rent << rent;
    QTest::newRow("an imported task with the server's UID is that task")
            << typed << QStringList { "there+ Pay rent", "here+ Pay rent", "uid their-1 Pay rent" }
            << Rules() << SyncError::None << rent << rent;

    // Several tasks are sent at once; each answer counts for its own, whenever it comes.
    const QStringList some = many.mid(0, 3);
    QTest::newRow("tasks sent at once and given no ETag are deleted there")
            << typed
            << QStringList { "no-etag", "late Task 01" } + manyMade.mid(0, 3)
                       + QStringList { "sync", "several", "here- Task 01", "here- Task 03" }
            << Rules() << SyncError::None << many.mid(1, 1) << many.mid(1, 1);
    QTest::newRow("one of several tasks sent at once refused with 412 is sent again")
            << typed << manyMade.mid(0, 3) << Rules { { "PUT", "", reply(412) } } << SyncError::None
            << some << some;
    QTest::newRow("a PUT lost among several fails the pass, the others are kept")
            << typed
            << manyMade.mid(0, 3)
                       + QStringList { "late Task 03", "lose-put", "sync!", "pending Task 01" }
            << Rules() << SyncError::None << some << some;
    QTest::newRow("a task the server gave no ETag for is deleted there")
            << typed << QStringList { "no-etag", "here+ Pay rent", "sync", "here- Pay rent" }
            << Rules() << SyncError::None << QStringList() << QStringList();

    // Tasks due carry this program's reminder; a server that refuses it gets them without.
    QTest::newRow("a task due is sent with its reminder")
            << typed << QStringList { "lead 15", "here+due Pay rent", "sync", "alarms 1" }
            << Rules() << SyncError::None << rent << rent;
    QTest::newRow("a server that refuses reminders gets the task without")
            << typed << QStringList { "lead 15", "no-alarms", "here+due Pay rent",
                                      "sync",    "alarms 0",  "here~ Pay rent>Pay" }
            << Rules() << SyncError::None << QStringList { "Pay" } << QStringList { "Pay" };
    QTest::newRow("tasks sent at once to a server that refuses reminders go without")
            << typed << QStringList { "lead 15",      "no-alarms", "here+due Pay rent",
                                      "here+due Pay", "sync",      "alarms 0" }
            << Rules() << SyncError::None << QStringList { "Pay", "Pay rent" }
            << QStringList { "Pay", "Pay rent" };
    // A task's own reminder goes with it; another client's alarm sets it here, and stays as it
    // was written.
    const QString theirs = QStringLiteral("there+ Pay rent\r\nDUE:20300301T090000Z\r\n"
                                          "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT30M\r\n"
                                          "DESCRIPTION:Pay\r\nEND:VALARM");
    QTest::newRow("a task's own reminder is sent")
            << typed
            << QStringList { "lead 15", "here+due Pay rent", "remind 60 Pay rent", "sync",
                             "trigger ;RELATED=END:-PT60M" }
            << Rules() << SyncError::None << rent << rent;
    QTest::newRow("a reminder changed alone is sent")
            << typed
            << QStringList { "lead 15", "here+due Pay rent",          "sync", "remind 60 Pay rent",
                             "sync",    "trigger ;RELATED=END:-PT60M" }
            << Rules() << SyncError::None << rent << rent;
    QTest::newRow("another client's alarm sets the reminder and is neither lost nor doubled")
            << typed << QStringList { "lead 15",
                                      theirs,
                                      "sync",
                                      "reminder 30 Pay rent",
                                      "here~ Pay rent>Pay",
                                      "sync",
                                      "alarms 1",
                                      "trigger :-PT30M" }
            << Rules() << SyncError::None << QStringList { "Pay" } << QStringList { "Pay" };
    QTest::newRow("a reminder chosen here outlives the other client's alarm it kept")
            << typed << QStringList { "lead 15",
                                      theirs,
                                      "sync",
                                      "remind -1 Pay rent",
                                      "here~ Pay rent>Pay",
                                      "sync",
                                      "alarms 1",
                                      "reminder -1 Pay" }
            << Rules() << SyncError::None << QStringList { "Pay" } << QStringList { "Pay" };
    QTest::newRow("a task with its reminder refused for another reason is no success")
            << typed << QStringList { "lead 15", "here+due Pay rent" }
            << Rules { { "PUT", "", reply(403), 99 } } << SyncError::ServerError << rent
            << QStringList();

    // Changes on both sides merge field by field against the version both agreed on.
    QTest::newRow("a rename here and a note there make no copy")
            << typed
            << QStringList { "there+ Pay", "sync", "here~ Pay>Pay rent",
                             "there~ Pay>Pay\r\nDESCRIPTION:Call the landlord" }
            << Rules() << SyncError::None << rent << rent;
    const QStringList both { QStringLiteral("Pay bills (conflicting copy)"),
                             QStringLiteral("Pay rent") };
    QTest::newRow("renamed on both sides keeps the other name as a copy")
            << typed
            << QStringList { "there+ Pay", "sync", "here~ Pay>Pay rent", "there~ Pay>Pay bills" }
            << Rules() << SyncError::None << both << both;
    QTest::newRow("an edit made while the sync runs is not overwritten")
            << typed
            << QStringList { "there+ Pay", "sync", "there~ Pay>Pay bills",
                             "during here~ Pay>Pay rent" }
            << Rules() << SyncError::None << both << both;
    QTest::newRow("a rename of a repeating task leaves its moved occurrence alone")
            << typed << QStringList { "there@ repeating", "sync", "here~ Water plants>Water" }
            << Rules() << SyncError::None << QStringList { "Water" }
            << QStringList { "Water plants (moved)" };

    // Notes, priority and tags travel both ways; a priority received that is none of those
    // written here stays as it came until it is changed here, notes edited here take the HTML
    // copy with them, and notes changed on both sides keep the version here whole.
    QTest::newRow("notes, priority and tags made there arrive here")
            << typed
            << QStringList { "there+ Pay\r\nDESCRIPTION:Call\\, then pay\r\nPRIORITY:3\r\n"
                             "CATEGORIES:home,bills\r\nCATEGORIES:urgent",
                             "sync",
                             "is-here Pay>Call, then pay|3|3|home,bills,urgent",
                             "there~ Pay>Pay\r\nPRIORITY:7",
                             "sync",
                             "is-here Pay>Call, then pay|1|7|home,bills,urgent" }
            << Rules() << SyncError::None << QStringList { "Pay" } << QStringList { "Pay" };
    QTest::newRow("notes, priority and tags changed here reach the server")
            << typed
            << QStringList { "there+ Pay\r\nPRIORITY:3\r\nDESCRIPTION:Old\r\n"
                             "X-ALT-DESC;FMTTYPE=text/html:<p>Old</p>",
                             "sync",
                             "here# Pay>New\nlines|home,bills",
                             "sync",
                             "is-there "
                             "Pay>DESCRIPTION:New\\nlines|PRIORITY:3|CATEGORIES:home,bills",
                             "not-there Pay>X-ALT-DESC",
                             "here! Pay>2",
                             "sync",
                             "is-there Pay>PRIORITY:5",
                             "not-there Pay>PRIORITY:3" }
            << Rules() << SyncError::None << QStringList { "Pay" } << QStringList { "Pay" };
    QTest::newRow("a priority here and tags there both stand")
            << typed
            << QStringList { "there+ Pay",
                             "sync",
                             "here! Pay>3",
                             "there~ Pay>Pay\r\nCATEGORIES:home",
                             "sync",
                             "is-here Pay>|3||home",
                             "is-there Pay>PRIORITY:1|CATEGORIES:home" }
            << Rules() << SyncError::None << QStringList { "Pay" } << QStringList { "Pay" };
    const QStringList notesCopy { QStringLiteral("Pay"), QStringLiteral("Pay (conflicting copy)") };
    QTest::newRow("notes changed on both sides keep both")
            << typed
            << QStringList { "there+ Pay",
                             "sync",
                             "here# Pay>Ours|",
                             "there~ "
                             "Pay>Pay\r\nDESCRIPTION:Theirs\r\nLAST-MODIFIED:20990101T000000Z",
                             "sync",
                             "is-here Pay>Ours|0||",
                             "is-here Pay (conflicting copy)>Theirs|0||",
                             "is-there Pay>DESCRIPTION:Ours" }
            << Rules() << SyncError::None << notesCopy << notesCopy;
    QTest::newRow("notes on one side of a task matched by its UID are taken")
            << typed
            << QStringList { "there+ Pay\r\nDESCRIPTION:Theirs",
                             "sync",
                             "forget",
                             "here! Pay>3",
                             "here# Pay>|",
                             "sync",
                             "is-here Pay>Theirs|3||" }
            << Rules() << SyncError::None << QStringList { "Pay" } << QStringList { "Pay" };

    // Nothing goes to an origin the person did not type, whatever the server answers.
    QTest::newRow("a list on another origin than the typed one is refused")
            << QStringLiteral("https://typed.example/") << QStringList { "here+ Pay rent" }
            << Rules() << SyncError::OtherOrigin << rent << QStringList();
    QTest::newRow("a listing redirected to another origin is not followed")
            << typed << QStringList { "there+ Pay rent" }
            << Rules { { "REPORT", "", reply(301, elsewhere.toUtf8()) } } << SyncError::OtherOrigin
            << QStringList() << rent;
    QTest::newRow("a PUT redirected to another origin is not followed")
            << typed << QStringList { "here+ Pay rent" }
            << Rules { { "PUT", "", reply(307, elsewhere.toUtf8() + "x.ics") } }
            << SyncError::OtherOrigin << rent << QStringList();
    QTest::newRow("a redirect from HTTPS to plain HTTP is refused")
            << typed << QStringList { "there+ Pay rent" }
            << Rules { { "REPORT", "", reply(301, "http://dav.example/dav/tasks/") } }
            << SyncError::InsecureRedirect << QStringList() << rent;
    QTest::newRow("a redirect within the origin is followed")
            << typed << QStringList { "there+ Pay rent" }
            << Rules { { "REPORT", "", reply(308, kCollection.toEncoded()) } } << SyncError::None
            << rent << rent;

    // An answer longer than the program reads ends the pass and changes nothing.
    QTest::newRow("a listing that never ends") << typed << QStringList { "there+ Pay rent" }
                                               << Rules { { "REPORT", "", reply(207), 1, -1 } }
                                               << SyncError::TooLarge << QStringList() << rent;
    QTest::newRow("a listing longer than a listing may be")
            << typed << QStringList { "there+ Pay rent" }
            << Rules { { "REPORT", "", reply(207), 1, CalDavClient::kMaxListing + 1 } }
            << SyncError::TooLarge << QStringList() << rent;
    QTest::newRow("an answer to a PUT longer than one resource may be")
            << typed << QStringList { "here+ Pay rent" }
            << Rules { { "PUT", "", reply(201), 1, CalDavClient::kMaxResource + 1 } }
            << SyncError::TooLarge << rent << QStringList();
}

void TestSyncDecisions::engine()
{
    QFETCH(QString, typedServer);
    QFETCH(QStringList, steps);
    QFETCH(Rules, rules);
    QFETCH(SyncError, error);
    QFETCH(QStringList, here);
    QFETCH(QStringList, there);

    HookedCalDav server(kCollection);
    Profile profile(m_template, &server, typedServer);
    int made = 0;
    for (QString step : std::as_const(steps)) {
        const bool during = step.startsWith(QLatin1String("during "));
        if (during)
            step = step.section(QLatin1Char(' '), 1);
        const QString what = step.section(QLatin1Char(' '), 1);
        QString sql;
        QVariantList values;
        if (step == QLatin1String("sync"))
            QCOMPARE(profile.sync(), SyncError::None);
        else if (step == QLatin1String("sync!"))
            QVERIFY(profile.sync() != SyncError::None);
        else if (step == QLatin1String("keep"))
            profile.engine->decideDeletions(SyncEngine::Deletions::Keep);
        else if (step == QLatin1String("forget"))
            QVERIFY(profile.engine->store().forgetItems(1)
                    && profile.engine->store().saveToken(1, QString(), 0));
        else if (step == QLatin1String("no-etag"))
            server.etagOnPut = false;
        else if (step == QLatin1String("no-alarms"))
            server.refuseAlarms = true;
        else if (step.startsWith(QLatin1String("late ")))
            server.late = "SUMMARY:" + what.toUtf8();
        else if (step.startsWith(QLatin1String("pending ")))
            QCOMPARE(profile.engine->pending(), QStringList { what });
        else if (step == QLatin1String("several"))
            QVERIFY(server.mostPending > 1);
        else if (step == QLatin1String("lose-put")) {
            DavResponse lost;
            lost.error = SyncError::Unreachable;
            server.script({ "PUT", "", lost });
        } else if (step.startsWith(QLatin1String("lead ")))
            profile.engine->setAlarmLead(what.toInt());
        else if (step.startsWith(QLatin1String("alarms ")))
            QCOMPARE(server.alarms(), what.toInt());
        else if (step.startsWith(QLatin1String("trigger ")))
            QCOMPARE(server.holding("\r\nTRIGGER" + what.toUtf8() + "\r\n"), 1);
        else if (step.startsWith(QLatin1String("reminder ")))
            QCOMPARE(profile.reminder(what.section(QLatin1Char(' '), 1)),
                     what.section(QLatin1Char(' '), 0, 0).toInt());
        else if (step.startsWith(QLatin1String("remind ")))
            sql = QStringLiteral("INSERT OR REPLACE INTO task_reminders SELECT id, 1, ? FROM tasks "
                                 "WHERE name = ?"),
            values = { what.section(QLatin1Char(' '), 0, 0), what.section(QLatin1Char(' '), 1) };
        else if (step.startsWith(QLatin1String("is-here ")))
            QCOMPARE(profile.details(what.section('>', 0, 0)), what.section('>', 1));
        else if (step.startsWith(QLatin1String("is-there "))
                 || step.startsWith(QLatin1String("not-there "))) {
            const QByteArray text = server.textOf(what.section('>', 0, 0));
            for (const QString &part : what.section('>', 1).split(QLatin1Char('|')))
                QVERIFY2(text.contains(part.toUtf8()) == step.startsWith(QLatin1String("is-")),
                         text.constData());
        } else if (step.startsWith(QLatin1String("refuse")))
            sql = QStringLiteral(
                          "CREATE TRIGGER refuse BEFORE INSERT ON tasks WHEN NEW.name = '%1' "
                          "BEGIN SELECT RAISE(ABORT, 'locked'); END")
                          .arg(what);
        else if (step == QLatin1String("accept"))
            sql = QStringLiteral("DROP TRIGGER refuse");
        else if (step.startsWith(QLatin1String("uid")))
            sql = QStringLiteral("INSERT INTO task_uids (task_id, user_id, uid) SELECT id, 1, ? "
                                 "FROM tasks WHERE name = ?"),
            values = { what.section(QLatin1Char(' '), 0, 0), what.section(QLatin1Char(' '), 1) };
        else if (step == QLatin1String("there@ repeating"))
            server.send({ "PUT",
                          server.collection().resolved(QUrl(QStringLiteral("rep-1.ics"))),
                          {},
                          kRepeating },
                        [](const DavResponse &) {});
        else if (step.startsWith(QLatin1String("there+")))
            server.addTask(QStringLiteral("their-%1").arg(++made), what);
        else if (step.startsWith(QLatin1String("there~")))
            server.changeTask(what.section(QLatin1Char('>'), 0, 0), what.section('>', 1));
        else if (step.startsWith(QLatin1String("there-")))
            server.changeTask(what, QString());
        else if (step.startsWith(QLatin1String("here+due")))
            sql = QStringLiteral("INSERT INTO tasks (user_id, name, active, expire_at_epoch) "
                                 "VALUES (1, ?, 0, strftime('%s', 'now') + 86400)"),
            values = { what };
        else if (step.startsWith(QLatin1String("here+")))
            sql = QStringLiteral("INSERT INTO tasks (user_id, name) VALUES (1, ?)"),
            values = { what };
        else if (step.startsWith(QLatin1String("here# ")))
            sql = QStringLiteral("INSERT INTO task_details (task_id, user_id, notes, tags) SELECT "
                                 "id, 1, ?, ? FROM tasks WHERE name = ? ON CONFLICT (task_id) DO "
                                 "UPDATE SET notes = excluded.notes, tags = excluded.tags"),
            values = { what.section('>', 1).section('|', 0, 0),
                       what.section('>', 1).section('|', 1), what.section('>', 0, 0) };
        else if (step.startsWith(QLatin1String("here! ")))
            sql = QStringLiteral("INSERT INTO task_details (task_id, user_id, priority) SELECT id, "
                                 "1, ? FROM tasks WHERE name = ? ON CONFLICT (task_id) DO UPDATE "
                                 "SET priority = excluded.priority, priority_raw = NULL"),
            values = { what.section('>', 1).toInt(), what.section('>', 0, 0) };
        else if (step.startsWith(QLatin1String("here-")))
            sql = QStringLiteral("DELETE FROM tasks WHERE name = ?"), values = { what };
        else if (step.startsWith(QLatin1String("here~")))
            sql = QStringLiteral("UPDATE tasks SET name = ? WHERE name = ?"),
            values = { what.section(QLatin1Char('>'), 1), what.section('>', 0, 0) };
        else
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        if (sql.isEmpty())
            continue;
        if (during)
            server.beforeFetch = [&profile, sql, values]() { profile.exec(sql, values); };
        else
            QVERIFY(profile.exec(sql, values));
    }
    for (const FakeCalDav::Rule &rule : std::as_const(rules))
        server.script(rule);

    QCOMPARE(profile.sync(), error);
    QCOMPARE(profile.tasks(), here);
    QCOMPARE(server.summaries(), there);
    for (const DavRequest &request : std::as_const(server.requests))
        QVERIFY2(CalDavClient::sameOrigin(request.url, QUrl(typedServer)),
                 qPrintable(request.method + ' ' + request.url.toString()));
}

void TestSyncDecisions::discovery_data()
{
    QTest::addColumn<Rules>("rules");
    QTest::addColumn<SyncError>("error");
    QTest::addColumn<QUrl>("elsewhere");

    const QUrl other(QStringLiteral("https://other.example/dav/"));
    QTest::newRow("a redirect to another origin is offered, not followed")
            << Rules { { "PROPFIND", "", reply(301, other.toEncoded()), 2 } }
            << SyncError::OtherOrigin << other;
    QTest::newRow("a redirect from HTTPS to plain HTTP is refused")
            << Rules { { "PROPFIND", "", reply(301, "http://dav.example/dav/") } }
            << SyncError::InsecureRedirect << QUrl();
    QTest::newRow("an endless answer")
            << Rules { { "PROPFIND", "", reply(207), 2, -1 } } << SyncError::TooLarge << QUrl();
}

void TestSyncDecisions::discovery()
{
    QFETCH(Rules, rules);
    QFETCH(SyncError, error);
    QFETCH(QUrl, elsewhere);

    FakeCalDav server(kCollection);
    for (const FakeCalDav::Rule &rule : std::as_const(rules))
        server.script(rule);
    CalDavDiscovery discovery(&server);
    QSignalSpy found(&discovery, &CalDavDiscovery::finished);
    const QUrl typed(QStringLiteral("https://dav.example/"));
    discovery.start(typed, QStringLiteral("sam"), QStringLiteral("secret"), false);
    QVERIFY(found.wait(10000));
    QCOMPARE(found.first().first().value<SyncError>(), error);
    QCOMPARE(discovery.elsewhere(), elsewhere);
    QVERIFY(!server.requests.isEmpty());
    for (const DavRequest &request : std::as_const(server.requests))
        QVERIFY2(CalDavClient::sameOrigin(request.url, typed), qPrintable(request.url.toString()));
}

// A pass stopped while it writes what the server sent saves no sync token and leaves no task
// half written: the next pass brings every task once. A pass with nothing changed on either side
// then leaves the file as it was, and still tells when it synced.
void TestSyncDecisions::stoppedAndIdlePasses()
{
    constexpr int kTasks = 1500;
    FakeCalDav server(kCollection);
    for (int i = 0; i < kTasks; ++i)
        server.addTask(QStringLiteral("their-%1").arg(i), QStringLiteral("Task %1").arg(i));
    Profile profile(m_template, &server, QStringLiteral("https://dav.example/"));
    SyncAccount account;
    profile.engine->store().loadAccount(1, account);
    QSignalSpy finished(profile.engine.get(), &SyncEngine::finished);
    bool stopped = false;
    connect(profile.engine->store().tasks(), &TaskStore::tasksChanged, this, [&]() {
        if (!std::exchange(stopped, true))
            profile.engine->abort(); // as signing out does
    });
    profile.engine->start(account, QStringLiteral("secret"));
    QTRY_VERIFY_WITH_TIMEOUT(stopped, 20000);
    QVERIFY(!profile.engine->isRunning());
    QVERIFY(!finished.wait(200));
    QVERIFY(profile.engine->store().loadAccount(1, account));
    QVERIFY(account.syncToken.isEmpty());
    QVERIFY(profile.tasks().size() < kTasks);

    QCOMPARE(profile.sync(), SyncError::None);
    QStringList names = profile.tasks();
    names.removeDuplicates();
    QCOMPARE(names.size(), kTasks);
    QCOMPARE(profile.tasks().size(), kTasks);

    const QByteArray before = profile.fileDigest();
    const qint64 start = QDateTime::currentSecsSinceEpoch();
    QCOMPARE(profile.sync(), SyncError::None);
    QCOMPARE(profile.fileDigest(), before);
    QVERIFY(profile.engine->lastSyncEpoch() >= start);
}

QTEST_GUILESS_MAIN(TestSyncDecisions)
#include "tst_syncdecisions.moc"
