#include "caldavdiscovery.h"
#include "fixture.h"
#include "networktransport.h"
#include "radicaleserver.h"
#include "syncengine.h"
#include "syncservice.h"
#include "testenv.h"
#include "xandikosserver.h"

#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <QTimeZone>
#include <QUuid>

namespace {

// One installation of the program: its own database file and sync state for account 1.
class Profile
{
public:
    Profile(const QString &templatePath, const QString &collection, CalDavTransport *network)
        : m_name(QUuid::createUuid().toString(QUuid::WithoutBraces))
    {
        const QString path = testEnvironment.newDatabasePath();
        QFile::copy(templatePath, path);
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        m_db.setDatabaseName(path);
        m_db.open();
        engine = std::make_unique<SyncEngine>(m_db, network);
        account.userId = 1;
        account.serverUrl = collection;
        account.userName = RadicaleServer::kUser;
        account.collectionUrl = collection;
        engine->store().saveAccount(account);
    }

    SyncError sync(const QString &password = RadicaleServer::kPassword)
    {
        engine->store().loadAccount(1, account);
        QSignalSpy finished(engine.get(), &SyncEngine::finished);
        engine->start(account, password);
        if (!finished.wait(30000))
            return SyncError::ServerError;
        notes = finished.first().at(2).toStringList();
        return finished.first().first().value<SyncError>();
    }

    qint64 add(const QString &name, bool done = false)
    {
        return engine->store().insertTask(1, { name, done, QDateTime() }, QDateTime());
    }
    void edit(const QString &name, const TaskFields &fields)
    {
        const qint64 id = scalar(m_db, QStringLiteral("SELECT id FROM tasks WHERE name = ?"), name)
                                  .toLongLong();
        engine->store().updateTask(1, id, fields);
        engine->store().noteLocalChange(id, QDateTime::currentSecsSinceEpoch());
    }
    void remove(const QString &name)
    {
        QSqlQuery(m_db).exec(QStringLiteral("DELETE FROM tasks WHERE name = '%1'").arg(name));
    }
    // Done on a pending repeating task at now, as the window's command writes it.
    bool complete(const QString &name, const QDateTime &now)
    {
        const qint64 id =
                scalar(m_db, QStringLiteral("SELECT id FROM tasks WHERE name = ? AND active = 0"),
                       name)
                        .toLongLong();
        const QDateTime due = QDateTime::fromSecsSinceEpoch(
                scalar(m_db, QStringLiteral("SELECT expire_at_epoch FROM tasks WHERE id = ?"), id)
                        .toLongLong(),
                QTimeZone::utc());
        TaskStore store(m_db);
        const bool done =
                store.completeOccurrence(1, id, name, due, now, TaskStore::Origin::Window).ok;
        engine->store().noteLocalChange(id, QDateTime::currentSecsSinceEpoch());
        return done;
    }
    QVariant value(const QString &sql) const { return scalar(m_db, sql); }
    bool exec(const QString &sql) { return QSqlQuery(m_db).exec(sql); }

    // The tasks as "name" or "name (done)", sorted.
    QStringList tasks() const
    {
        QStringList list;
        QSqlQuery query(QStringLiteral("SELECT name, active FROM tasks WHERE user_id = 1"), m_db);
        while (query.next())
            list << query.value(0).toString()
                            + (query.value(1).toBool() ? QStringLiteral(" (done)") : QString());
        list.sort();
        return list;
    }

    SyncAccount account;
    std::unique_ptr<SyncEngine> engine;
    QStringList notes;

private:
    QString m_name;
    QSqlDatabase m_db;
};

} // namespace

class TestCalDavSync : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void discovery_data();
    void discovery();
    void twoProfilesPropagate_data();
    void twoProfilesPropagate();
    void independentClient();
    void repeatingSeriesWithAnotherClient();
    void sameOccurrenceDoneOnTwoDevices();
    void conflictKeepsBothVersions();
    void serverDownThenBack();
    void invalidSyncToken();
    void remadeCollectionKeepsTasks();
    void serviceSendsLocalChanges();
    void undoneDeletionStaysOnServer();
    void signOutCancelsDiscovery();

private:
    QString newCollection(const QUrl &server = {});
    QString caldavScript(const QString &collection, const QString &mode, const QString &ical = {});

    RadicaleServer m_server;
    XandikosServer m_xandikos;
    QTemporaryDir m_tlsDir;
    QProcess m_tlsServer; // HTTPS with a certificate nobody trusts
    QUrl m_tlsUrl;
    QProcess m_proxy; // forwards to the server but refuses sync-collection
    QUrl m_proxyUrl;
    QProcess m_endless; // answers every request with a body that never ends
    QUrl m_endlessUrl;
    QNetworkAccessManager m_access;
    NetworkTransport m_network { &m_access };
    QString m_template;
};

void TestCalDavSync::initTestCase()
{
    qRegisterMetaType<SyncError>();
    // No secret service: the password is kept for the run only, and no keyring is touched.
    qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray("unix:path=/nonexistent"));
    QVERIFY(m_server.start());
    QVERIFY(m_xandikos.start());
    const QDir tls(m_tlsDir.path());
    QCOMPARE(QProcess::execute(QStringLiteral("openssl"),
                               { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                                 "-subj", "/CN=127.0.0.1", "-keyout", tls.filePath("key.pem"),
                                 "-out", tls.filePath("cert.pem") }),
             0);
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    m_tlsUrl = QUrl(QStringLiteral("https://127.0.0.1:%1/").arg(probe.serverPort()));
    probe.close();
    m_tlsServer.start(QStringLiteral("/usr/bin/python3"),
                      { "-c",
                        "import http.server, ssl, sys\n"
                        "server = http.server.HTTPServer(('127.0.0.1', int(sys.argv[1])), "
                        "http.server.BaseHTTPRequestHandler)\n"
                        "context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)\n"
                        "context.load_cert_chain(sys.argv[2], sys.argv[3])\n"
                        "server.socket = context.wrap_socket(server.socket, server_side=True)\n"
                        "server.serve_forever()\n",
                        QString::number(m_tlsUrl.port()), tls.filePath("cert.pem"),
                        tls.filePath("key.pem") });
    const QString proxy = QStringLiteral(R"(
import http.server, sys, urllib.error, urllib.request
class Proxy(http.server.BaseHTTPRequestHandler):
    def forward(self):
        body = self.rfile.read(int(self.headers.get('Content-Length', 0)))
        if self.command == 'REPORT' and b'sync-collection' in body:
            self.send_response(501)
            self.send_header('Content-Length', '0')
            self.end_headers()
            return
        headers = {k: v for k, v in self.headers.items() if k.lower() != 'host'}
        request = urllib.request.Request(sys.argv[2] + self.path, data=body or None,
                                         method=self.command, headers=headers)
        try:
            answer = urllib.request.urlopen(request)
        except urllib.error.HTTPError as error:
            answer = error
        data = answer.read()
        self.send_response(answer.status)
        for k, v in answer.headers.items():
            if k.lower() not in ('transfer-encoding', 'connection', 'content-length'):
                self.send_header(k, v)
        self.send_header('Content-Length', str(len(data)))
        self.end_headers()
        self.wfile.write(data)
    do_GET = do_PUT = do_DELETE = do_PROPFIND = do_REPORT = forward
http.server.ThreadingHTTPServer(('127.0.0.1', int(sys.argv[1])), Proxy).serve_forever()
)");
    probe.listen(QHostAddress::LocalHost);
    m_proxyUrl = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort()));
    probe.close();
    m_proxy.start(QStringLiteral("/usr/bin/python3"),
                  { "-c", proxy, QString::number(m_proxyUrl.port()),
                    m_server.url(QString()).toString() });
    probe.listen(QHostAddress::LocalHost);
    m_endlessUrl = QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(probe.serverPort()));
    probe.close();
    const QString endless = QStringLiteral(R"(
import socket, sys, threading
def serve(client):
    client.recv(65536)
    client.sendall(b'HTTP/1.1 207 Multi-Status\r\nConnection: close\r\n\r\n')
    try:
        while True:
            client.sendall(b'<d:response/>' * 4096)
    except OSError:
        pass
server = socket.create_server(('127.0.0.1', int(sys.argv[1])))
while True:
    threading.Thread(target=serve, args=(server.accept()[0],), daemon=True).start()
)");
    m_endless.start(QStringLiteral("/usr/bin/python3"),
                    { "-c", endless, QString::number(m_endlessUrl.port()) });
    for (const QUrl &url : { m_tlsUrl, m_proxyUrl, m_endlessUrl }) {
        QTRY_VERIFY([&url] {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, url.port());
            return socket.waitForConnected(100);
        }());
    }
    m_template = testEnvironment.newDatabasePath();
    TaskServices services(m_template);
    QVERIFY(services.opened);
    QCOMPARE(signUp(services.auth, QStringLiteral("sam")), 1);
}

QString TestCalDavSync::newCollection(const QUrl &server)
{
    CalDavDiscovery discovery(&m_network);
    QSignalSpy found(&discovery, &CalDavDiscovery::finished);
    QSignalSpy created(&discovery, &CalDavDiscovery::collectionCreated);
    discovery.start(server.isEmpty() ? m_server.url() : server, RadicaleServer::kUser,
                    RadicaleServer::kPassword, false);
    if (!found.wait(10000))
        return {};
    discovery.createCollection(QStringLiteral("Tasks"));
    if (!created.wait(10000))
        return {};
    return created.first().at(2).toString();
}

QString TestCalDavSync::caldavScript(const QString &collection, const QString &mode,
                                     const QString &ical)
{
    const QString script = QStringLiteral(R"(
import sys, caldav
url, user, password, collection, mode, ical = sys.argv[1:7]
calendar = caldav.DAVClient(url=url, username=user, password=password).calendar(url=collection)
if mode == 'add':
    calendar.save_todo(ical)
elif mode == 'alarms':
    for todo in calendar.todos(include_completed=True):
        for task in todo.icalendar_instance.walk('VTODO'):
            for alarm in task.walk('VALARM'):
                trigger = alarm['TRIGGER']
                print(task['SUMMARY'], int(trigger.dt.total_seconds()), trigger.params.get('RELATED'))
elif mode == 'done-occurrence':
    # As Thunderbird completes one occurrence of the series whose UID is given.
    import datetime, icalendar
    for todo in calendar.todos(include_completed=True):
        cal = todo.icalendar_instance
        masters = [c for c in cal.walk('VTODO') if 'RRULE' in c and str(c['UID']) == ical]
        if masters:
            master, done = masters[0], icalendar.Todo()
            for name in ('UID', 'SUMMARY', 'DTSTART', 'DUE'):
                done.add(name, master[name] if name in ('UID', 'SUMMARY') else master[name].dt)
            done.add('RECURRENCE-ID', master['DTSTART'].dt)
            done.add('STATUS', 'COMPLETED')
            done.add('DTSTAMP', datetime.datetime.now(datetime.timezone.utc))
            cal.add_component(done)
            todo.data = cal.to_ical().decode()
            todo.save()
else:
    for todo in calendar.todos(include_completed=True):
        print(todo.data)
)");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 { QStringLiteral("-c"), script, m_server.url().toString(), RadicaleServer::kUser,
                   RadicaleServer::kPassword, collection, mode, ical });
    python.waitForFinished(30000);
    return QString::fromUtf8(python.readAllStandardOutput() + python.readAllStandardError());
}

void TestCalDavSync::cleanupTestCase()
{
    for (QProcess *process : { &m_tlsServer, &m_proxy, &m_endless }) {
        process->kill();
        process->waitForFinished();
    }
}

void TestCalDavSync::discovery_data()
{
    QTest::addColumn<QUrl>("server");
    QTest::addColumn<QString>("password");
    QTest::addColumn<SyncError>("error");

    QTest::newRow("right password")
            << m_server.url() << RadicaleServer::kPassword << SyncError::None;
    QTest::newRow("PROPFIND redirected") << m_server.url(QStringLiteral("/.well-known/caldav"))
                                         << RadicaleServer::kPassword << SyncError::None;
    QTest::newRow("wrong password") << m_server.url() << "guess" << SyncError::WrongPassword;
    QTest::newRow("plain HTTP to another machine refused")
            << QUrl(QStringLiteral("http://192.0.2.1/")) << RadicaleServer::kPassword
            << SyncError::InsecureRefused;
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const QUrl nobody(QStringLiteral("http://127.0.0.1:%1/").arg(closed.serverPort()));
    closed.close();
    QTest::newRow("certificate refused")
            << m_tlsUrl << RadicaleServer::kPassword << SyncError::CertificateRefused;
    QTest::newRow("nothing listening")
            << nobody << RadicaleServer::kPassword << SyncError::Unreachable;
    QTest::newRow("an answer that never ends")
            << m_endlessUrl << RadicaleServer::kPassword << SyncError::TooLarge;
}

void TestCalDavSync::discovery()
{
    QFETCH(QUrl, server);
    QFETCH(QString, password);
    QFETCH(SyncError, error);

    const QString collection = error == SyncError::None ? newCollection() : QString();
    CalDavDiscovery discovery(&m_network);
    QSignalSpy found(&discovery, &CalDavDiscovery::finished);
    discovery.start(server, RadicaleServer::kUser, password, false);
    QVERIFY(found.wait(10000));
    QCOMPARE(found.first().first().value<SyncError>(), error);
    const auto lists = found.first().at(2).value<QList<CalDavCollection>>();
    if (error == SyncError::None) {
        QVERIFY(!collection.isEmpty());
        QVERIFY(std::any_of(lists.cbegin(), lists.cend(), [&](const CalDavCollection &list) {
            return list.url == collection && list.name == QLatin1String("Tasks");
        }));
    }
}

void TestCalDavSync::twoProfilesPropagate_data()
{
    QTest::addColumn<QUrl>("server");
    QTest::addColumn<bool>("withoutSyncCollection");
    QTest::newRow("both with sync tokens") << m_server.url() << false;
    QTest::newRow("one through a server without sync-collection") << m_server.url() << true;
    QTest::newRow("both on Xandikos") << m_xandikos.url() << false;
}

void TestCalDavSync::twoProfilesPropagate()
{
    QFETCH(QUrl, server);
    QFETCH(bool, withoutSyncCollection);
    const QString collection = newCollection(server);
    QVERIFY(!collection.isEmpty());
    QUrl laptopUrl(collection);
    if (withoutSyncCollection)
        laptopUrl.setPort(m_proxyUrl.port());
    Profile laptop(m_template, laptopUrl.toString(), &m_network);
    Profile desktop(m_template, collection, &m_network);

    laptop.add(QStringLiteral("Pay rent"));
    laptop.add(QStringLiteral("Call mum"));
    laptop.add(QStringLiteral("Water plants"));
    QCOMPARE(laptop.sync(), SyncError::None);
    QCOMPARE(desktop.sync(), SyncError::None);
    QCOMPARE(desktop.tasks(), laptop.tasks());

    desktop.edit(QStringLiteral("Pay rent"), { QStringLiteral("Pay rent (March)"), true, {} });
    desktop.remove(QStringLiteral("Call mum"));
    desktop.add(QStringLiteral("Buy bread"));
    QCOMPARE(desktop.sync(), SyncError::None);
    laptop.edit(QStringLiteral("Water plants"),
                { QStringLiteral("Water plants"), false,
                  QDateTime(QDate(2027, 1, 2), QTime(9, 30), Qt::UTC) });
    QCOMPARE(laptop.sync(), SyncError::None);
    QCOMPARE(desktop.sync(), SyncError::None);

    const QStringList expected { QStringLiteral("Buy bread"),
                                 QStringLiteral("Pay rent (March) (done)"),
                                 QStringLiteral("Water plants") };
    QCOMPARE(laptop.tasks(), expected);
    QCOMPARE(desktop.tasks(), expected);
    QCOMPARE(desktop.value(QStringLiteral(
                                   "SELECT expire_at_epoch FROM tasks WHERE name = 'Water plants'"))
                     .toLongLong(),
             QDateTime(QDate(2027, 1, 2), QTime(9, 30), Qt::UTC).toSecsSinceEpoch());
}

void TestCalDavSync::independentClient()
{
    const QString collection = newCollection();
    Profile laptop(m_template, collection, &m_network);
    const QString theirs = QStringLiteral(
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\nBEGIN:VTODO\r\n"
            "UID:their-task@example.org\r\nDTSTAMP:20260101T100000Z\r\n"
            "SUMMARY:Renew passport\r\nDESCRIPTION:Bring two photos\\, the old one\r\n"
            "CATEGORIES:papers,errands\r\nRRULE:FREQ=YEARLY\r\nX-OTHER-PRIORITY:high\r\n"
            "X-ALT-DESC;FMTTYPE=text/html:<p>Bring two photos</p>\r\n"
            "DUE;TZID=Europe/Berlin:20270301T090000\r\nORDER:3\r\nBEGIN:VALARM\r\n"
            "ACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nDESCRIPTION:Passport\r\nPROXIMITY:DEPART\r\n"
            "END:VALARM\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    QCOMPARE(caldavScript(collection, QStringLiteral("add"), theirs), QString());
    // A task imported before keeps its UID on the server.
    const qint64 imported = laptop.add(QStringLiteral("Book flights"));
    QVERIFY(laptop.exec(QStringLiteral("INSERT INTO task_uids (task_id, user_id, uid) VALUES "
                                       "(%1, 1, 'imported@example.org')")
                                .arg(imported)));
    QCOMPARE(laptop.sync(), SyncError::None);
    QCOMPARE(laptop.value(QStringLiteral("SELECT uid FROM task_uids JOIN tasks ON id = task_id "
                                         "WHERE name = 'Renew passport'"))
                     .toString(),
             QStringLiteral("their-task@example.org"));
    QCOMPARE(laptop.tasks(), QStringList({ "Book flights", "Renew passport" }));
    // Their alarm is the task's reminder here; a task's own reminder is an alarm there.
    QCOMPARE(laptop.value(QStringLiteral("SELECT lead_minutes FROM task_reminders JOIN tasks ON "
                                         "id = task_id WHERE name = 'Renew passport'"))
                     .toInt(),
             15);
    QVERIFY(laptop.exec(QStringLiteral("INSERT INTO tasks (user_id, name, active, expire_at_epoch) "
                                       "VALUES (1, 'Call mum', 0, 1804000000)")));
    QVERIFY(laptop.exec(QStringLiteral("INSERT INTO task_reminders SELECT id, 1, 60 FROM tasks "
                                       "WHERE name = 'Call mum'")));
    QCOMPARE(laptop.sync(), SyncError::None);
    QStringList alarms = caldavScript(collection, QStringLiteral("alarms"))
                                 .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    alarms.sort();
    QCOMPARE(alarms, QStringList({ "Call mum -3600 END", "Renew passport -900 None" }));
    QCOMPARE(
            laptop.value(QStringLiteral(
                                 "SELECT expire_at_epoch FROM tasks WHERE name = 'Renew passport'"))
                    .toLongLong(),
            QDateTime(QDate(2027, 3, 1), QTime(8, 0), Qt::UTC).toSecsSinceEpoch());
    const QString details = QStringLiteral("SELECT notes || '|' || tags FROM task_details");
    QCOMPARE(laptop.value(details).toString(),
             QStringLiteral("Bring two photos, the old one|papers,errands"));

    laptop.edit(QStringLiteral("Renew passport"),
                { QStringLiteral("Renew passport now"), true,
                  QDateTime(QDate(2027, 3, 1), QTime(8, 0), Qt::UTC) });
    QCOMPARE(laptop.sync(), SyncError::None);
    const QString seen = caldavScript(collection, QStringLiteral("list"));
    QVERIFY2(seen.contains(QLatin1String("SUMMARY:Book flights")), qPrintable(seen));
    QVERIFY2(seen.contains(QLatin1String("UID:imported@example.org")), qPrintable(seen));
    for (const char *kept :
         { "SUMMARY:Renew passport now", "STATUS:COMPLETED",
           "DESCRIPTION:Bring two photos\\, the old one", "CATEGORIES:papers,errands",
           "RRULE:FREQ=YEARLY", "X-OTHER-PRIORITY:high", "DUE;TZID=Europe/Berlin:20270301T090000",
           "ORDER:3", "PROXIMITY:DEPART", "X-ALT-DESC" })
        QVERIFY2(seen.contains(QLatin1String(kept)), kept);
    QCOMPARE(seen.count(QLatin1String("BEGIN:VALARM")), 2); // theirs and one of "Call mum"

    // Details edited here replace the server's, the stale HTML copy of the notes goes.
    QVERIFY(laptop.exec(QStringLiteral("UPDATE task_details SET notes = 'One photo', priority = 3, "
                                       "priority_raw = NULL, tags = 'papers,travel'")));
    QCOMPARE(laptop.sync(), SyncError::None);
    const QString edited = caldavScript(collection, QStringLiteral("list"));
    for (const char *sent : { "DESCRIPTION:One photo", "PRIORITY:1", "CATEGORIES:papers,travel" })
        QVERIFY2(edited.contains(QLatin1String(sent)), qPrintable(edited));
    QVERIFY(!edited.contains(QLatin1String("X-ALT-DESC")));
}

// A series another client wrote, done here once and then once there: each client reads the
// other's completion, and the series never ends or doubles.
void TestCalDavSync::repeatingSeriesWithAnotherClient()
{
    const QString collection = newCollection();
    Profile laptop(m_template, collection, &m_network);
    const QString series = QStringLiteral(
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\nBEGIN:VTODO\r\n"
            "UID:gym@example.org\r\nDTSTAMP:20300101T100000Z\r\nSUMMARY:Gym\r\n"
            "DTSTART;TZID=Europe/Berlin:20300104T090000\r\n"
            "DUE;TZID=Europe/Berlin:20300104T100000\r\nRRULE:FREQ=DAILY;COUNT=5\r\n"
            "RDATE;TZID=Europe/Berlin:20300120T090000\r\n"
            "EXDATE;TZID=Europe/Berlin:20300105T090000\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    QCOMPARE(caldavScript(collection, QStringLiteral("add"), series), QString());
    QCOMPARE(laptop.sync(), SyncError::None);
    const QTimeZone berlin("Europe/Berlin");
    QVERIFY(laptop.complete(QStringLiteral("Gym"),
                            QDateTime(QDate(2030, 1, 4), QTime(9, 30), berlin)));
    QCOMPARE(laptop.sync(), SyncError::None);

    const QString seen = caldavScript(collection, QStringLiteral("list"));
    for (const char *line :
         { "UID:gym@example.org", "DUE;TZID=Europe/Berlin:20300106T100000",
           "DTSTART;TZID=Europe/Berlin:20300106T090000", "RRULE:FREQ=DAILY;COUNT=3",
           "RDATE;TZID=Europe/Berlin:20300120T090000", "STATUS:COMPLETED", "DUE:20300104T090000Z" })
        QVERIFY2(seen.contains(QLatin1String(line)), qPrintable(seen));
    QCOMPARE(seen.count(QLatin1String("RRULE:FREQ=DAILY")), 1); // none on the copy
    QCOMPARE(laptop.tasks(), QStringList({ "Gym", "Gym (done)" }));

    QCOMPARE(caldavScript(collection, QStringLiteral("done-occurrence"),
                          QStringLiteral("gym@example.org")),
             QString());
    QCOMPARE(laptop.sync(), SyncError::None);
    QCOMPARE(laptop.tasks(), QStringList({ "Gym", "Gym (done)" }));
    QCOMPARE(laptop.value(QStringLiteral("SELECT expire_at_epoch FROM tasks WHERE active = 0"))
                     .toLongLong(),
             QDateTime(QDate(2030, 1, 7), QTime(10, 0), berlin).toSecsSinceEpoch());
}

// Both devices complete the same occurrence before either syncs again: the series moves on once
// and its Done copy is held once, with no conflicting copy on either side.
void TestCalDavSync::sameOccurrenceDoneOnTwoDevices()
{
    const QString collection = newCollection();
    Profile laptop(m_template, collection, &m_network);
    Profile desktop(m_template, collection, &m_network);
    QCOMPARE(caldavScript(collection, QStringLiteral("add"),
                          QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\n"
                                         "BEGIN:VTODO\r\nUID:plants@example.org\r\n"
                                         "DTSTAMP:20300101T100000Z\r\nSUMMARY:Water plants\r\n"
                                         "DUE:20300104T090000Z\r\nRRULE:FREQ=DAILY\r\n"
                                         "END:VTODO\r\nEND:VCALENDAR\r\n")),
             QString());
    QCOMPARE(laptop.sync(), SyncError::None);
    QCOMPARE(desktop.sync(), SyncError::None);
    const QDateTime now(QDate(2030, 1, 4), QTime(9, 30), Qt::UTC);
    QVERIFY(laptop.complete(QStringLiteral("Water plants"), now));
    QVERIFY(desktop.complete(QStringLiteral("Water plants"), now));
    QCOMPARE(laptop.sync(), SyncError::None);
    QCOMPARE(desktop.sync(), SyncError::None);
    QCOMPARE(laptop.sync(), SyncError::None);

    const QStringList expected { QStringLiteral("Water plants"),
                                 QStringLiteral("Water plants (done)") };
    const QString pendingDue = QStringLiteral("SELECT expire_at_epoch FROM tasks WHERE active = 0");
    for (const Profile *profile : { &laptop, &desktop }) {
        QCOMPARE(profile->tasks(), expected);
        QCOMPARE(profile->value(pendingDue).toLongLong(),
                 QDateTime(QDate(2030, 1, 5), QTime(9, 0), Qt::UTC).toSecsSinceEpoch());
    }
    QCOMPARE(caldavScript(collection, QStringLiteral("list")).count(QLatin1String("BEGIN:VTODO")),
             2);
}

void TestCalDavSync::conflictKeepsBothVersions()
{
    const QString collection = newCollection();
    Profile laptop(m_template, collection, &m_network);
    Profile desktop(m_template, collection, &m_network);
    laptop.add(QStringLiteral("Plan trip"));
    QCOMPARE(laptop.sync(), SyncError::None);
    QCOMPARE(desktop.sync(), SyncError::None);

    laptop.edit(QStringLiteral("Plan trip"), { QStringLiteral("Plan trip to Rome"), false, {} });
    QTest::qWait(1100); // LAST-MODIFIED has whole seconds
    desktop.edit(QStringLiteral("Plan trip"), { QStringLiteral("Plan trip to Oslo"), true, {} });
    QCOMPARE(laptop.sync(), SyncError::None);
    QCOMPARE(desktop.sync(), SyncError::None);
    QCOMPARE(laptop.sync(), SyncError::None);

    // The later name wins in place, the earlier one is kept as a copy; the Done mark made on one
    // side only stands.
    const QStringList expected { QStringLiteral("Plan trip to Oslo (done)"),
                                 QStringLiteral("Plan trip to Rome (conflicting copy)") };
    QCOMPARE(desktop.tasks(), expected);
    QCOMPARE(laptop.tasks(), expected);
    QCOMPARE(desktop.notes, QStringList { QStringLiteral("Plan trip to Rome (conflicting copy)") });
}

void TestCalDavSync::serverDownThenBack()
{
    const QString collection = newCollection();
    Profile laptop(m_template, collection, &m_network);
    Profile desktop(m_template, collection, &m_network);
    laptop.add(QStringLiteral("Keep"));
    laptop.add(QStringLiteral("Drop"));
    QCOMPARE(laptop.sync(), SyncError::None);

    m_server.stop();
    laptop.add(QStringLiteral("Written offline"));
    laptop.edit(QStringLiteral("Keep"), { QStringLiteral("Keep safe"), false, {} });
    laptop.remove(QStringLiteral("Drop"));
    QCOMPARE(laptop.sync(), SyncError::Unreachable);
    QVERIFY(m_server.start());
    QVERIFY(m_xandikos.start());

    // A create the server stored but whose answer was lost, as after a crash.
    QCOMPARE(laptop.sync(), SyncError::None);
    laptop.add(QStringLiteral("Sent twice"));
    QCOMPARE(laptop.sync(), SyncError::None);
    laptop.exec(QStringLiteral("UPDATE sync_items SET etag = '', synced = 0"));
    QCOMPARE(laptop.sync(), SyncError::None);

    QCOMPARE(desktop.sync(), SyncError::None);
    const QStringList expected { QStringLiteral("Keep safe"), QStringLiteral("Sent twice"),
                                 QStringLiteral("Written offline") };
    QCOMPARE(laptop.tasks(), expected);
    QCOMPARE(desktop.tasks(), expected);
    QCOMPARE(caldavScript(collection, QStringLiteral("list")).count(QLatin1String("BEGIN:VTODO")),
             3);
}

void TestCalDavSync::invalidSyncToken()
{
    const QString collection = newCollection();
    Profile laptop(m_template, collection, &m_network);
    Profile desktop(m_template, collection, &m_network);
    desktop.add(QStringLiteral("Seen after a reset"));
    QCOMPARE(desktop.sync(), SyncError::None);
    laptop.exec(QStringLiteral("UPDATE sync_accounts SET sync_token = "
                               "'http://radicale.org/ns/sync/not-a-token'"));
    QCOMPARE(laptop.sync(), SyncError::None);
    QCOMPARE(laptop.tasks(), desktop.tasks());
    QVERIFY(laptop.value(QStringLiteral("SELECT sync_token FROM sync_accounts")).toString()
            != QLatin1String("http://radicale.org/ns/sync/not-a-token"));
}

// A collection deleted and made again at the same address (a reset from another client, a
// restored backup) refuses the stored token; the tasks here are kept and uploaded again.
void TestCalDavSync::remadeCollectionKeepsTasks()
{
    const QString collection = newCollection();
    Profile laptop(m_template, collection, &m_network);
    const QStringList names { QStringLiteral("Call Bo"), QStringLiteral("Pay rent"),
                              QStringLiteral("Water plants") };
    for (const QString &name : names)
        laptop.add(name);
    QCOMPARE(laptop.sync(), SyncError::None);

    CalDavClient client(&m_network);
    client.setOrigin(m_server.url());
    client.setCredentials(RadicaleServer::kUser, RadicaleServer::kPassword);
    int status = 0;
    client.remove(QUrl(collection), {}, [&](const DavReply &) {
        client.mkcalendar(QUrl(collection), QStringLiteral("Tasks"),
                          [&](const DavReply &made) { status = made.status; });
    });
    QTRY_COMPARE_WITH_TIMEOUT(status, 201, 10000);

    QCOMPARE(laptop.sync(), SyncError::None);
    QCOMPARE(laptop.tasks(), names);
    QCOMPARE(caldavScript(collection, QStringLiteral("list")).count(QLatin1String("BEGIN:VTODO")),
             3);
}

void TestCalDavSync::serviceSendsLocalChanges()
{
    const QString collection = newCollection();
    Profile desktop(m_template, collection, &m_network);
    desktop.add(QStringLiteral("From the desktop"));
    QCOMPARE(desktop.sync(), SyncError::None);

    ProgramServices laptop(testEnvironment.newDatabasePath());
    QVERIFY(signUp(laptop.auth, QStringLiteral("sam")) > 0);
    SyncService &sync = laptop.services.sync();
    sync.setIntervals(200, 60000);
    sync.testConnection(m_server.url().toString(), RadicaleServer::kUser, RadicaleServer::kPassword,
                        false);
    QTRY_VERIFY_WITH_TIMEOUT(!sync.taskLists().isEmpty(), 10000);
    QVERIFY(sync.useTaskList(collection));
    QTRY_COMPARE_WITH_TIMEOUT(sync.status(), QStringLiteral("Synced just now"), 10000);
    QCOMPARE(laptop.model.rowCount(), 1);

    // Changes made through the task list go out a moment later, without "Sync now".
    QVERIFY(laptop.tasks.createTask(QStringLiteral("From the laptop"), QDateTime(), false));
    QTRY_VERIFY_WITH_TIMEOUT(caldavScript(collection, QStringLiteral("list"))
                                     .contains(QLatin1String("SUMMARY:From the laptop")),
                             10000);
    QVERIFY(laptop.tasks.saveTaskDetails(laptop.tasks.lastCreatedId(), QStringLiteral("Noted"), 0,
                                         QString()));
    QTRY_VERIFY_WITH_TIMEOUT(caldavScript(collection, QStringLiteral("list"))
                                     .contains(QLatin1String("DESCRIPTION:Noted")),
                             10000);
    QVERIFY(desktop.sync() == SyncError::None);
    QCOMPARE(desktop.tasks(), QStringList({ "From the desktop", "From the laptop" }));

    // Signing in again syncs at once; without a secret service the password of this run is used.
    laptop.auth.logout();
    desktop.add(QStringLiteral("While signed out"));
    QCOMPARE(desktop.sync(), SyncError::None);
    QVERIFY(signUp(laptop.auth, QStringLiteral("sam")) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(laptop.model.rowCount(), 3, 10000);
}

// A deletion reaches the server only once it can no longer be undone: undone before, the task
// never leaves the server and is not sent a second time; left, it is deleted there.
void TestCalDavSync::undoneDeletionStaysOnServer()
{
    const QString collection = newCollection();
    ProgramServices laptop(testEnvironment.newDatabasePath());
    QVERIFY(signUp(laptop.auth, QStringLiteral("sam")) > 0);
    SyncService &sync = laptop.services.sync();
    sync.setIntervals(100, 600000);
    laptop.tasks.undoJournal().setWindowMs(8000);
    sync.testConnection(m_server.url().toString(), RadicaleServer::kUser, RadicaleServer::kPassword,
                        false);
    QTRY_VERIFY_WITH_TIMEOUT(!sync.taskLists().isEmpty(), 10000);
    QVERIFY(sync.useTaskList(collection));
    QVERIFY(laptop.tasks.createTask(QStringLiteral("Pay rent"), QDateTime(), false));
    const qint64 id = laptop.tasks.lastCreatedId();
    auto onServer = [&] {
        return caldavScript(collection, QStringLiteral("list")).count(QLatin1String("BEGIN:VTODO"));
    };
    QTRY_COMPARE_WITH_TIMEOUT(onServer(), 1, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!sync.busy(), 10000);

    // The pass the deletion starts leaves it for later; the undo puts the same row back.
    QSignalSpy passes(&sync, &SyncService::busyChanged);
    QVERIFY(laptop.tasks.deleteTask(id));
    QTRY_VERIFY_WITH_TIMEOUT(passes.size() >= 2 && !sync.busy(), 10000);
    QVERIFY(laptop.tasks.undoJournal().canUndo());
    QCOMPARE(onServer(), 1);
    QVERIFY(laptop.tasks.undo());
    passes.clear();
    QTRY_VERIFY_WITH_TIMEOUT(passes.size() >= 2 && !sync.busy(), 10000);
    QCOMPARE(onServer(), 1);
    QCOMPARE(laptop.scalar("SELECT count(*) FROM sync_items WHERE task_id = ?", id).toInt(), 1);
    QCOMPARE(laptop.model.rowCount(), 1);

    // Left alone, it goes once its window has passed.
    QVERIFY(laptop.tasks.deleteTask(id));
    QTRY_VERIFY_WITH_TIMEOUT(!laptop.tasks.undoJournal().showing(), 15000);
    QTRY_COMPARE_WITH_TIMEOUT(onServer(), 0, 15000);
}

// Alice asks a server that has not answered yet and signs out; Bob signs in. The question is
// abandoned at once, and nothing of Alice's setup is left for Bob to sync with. Signing in to a
// file that never synced is no failure either.
void TestCalDavSync::signOutCancelsDiscovery()
{
    QLoggingCategory::setFilterRules(QStringLiteral("tarvik.sync.warning=true"));
    QTest::failOnWarning(QRegularExpression(QStringLiteral("statement failed")));
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    ProgramServices program(testEnvironment.newDatabasePath());
    QVERIFY(signUp(program.auth, QStringLiteral("alice")) > 0);
    SyncService &sync = program.services.sync();
    sync.testConnection(QStringLiteral("http://127.0.0.1:%1/").arg(silent.serverPort()),
                        RadicaleServer::kUser, RadicaleServer::kPassword, false);
    QTRY_VERIFY_WITH_TIMEOUT(silent.hasPendingConnections(), 10000);
    QTcpSocket *asked = silent.nextPendingConnection();
    QVERIFY(sync.busy());

    program.auth.logout();
    QTRY_COMPARE_WITH_TIMEOUT(asked->state(), QAbstractSocket::UnconnectedState, 10000);
    QVERIFY(signUp(program.auth, QStringLiteral("bob")) > 0);
    QVERIFY(!sync.busy());
    QCOMPARE(sync.status(), QString());
    QVERIFY(sync.taskLists().isEmpty());
    QVERIFY(!sync.useTaskList(
            QStringLiteral("http://127.0.0.1:%1/alice/tasks/").arg(silent.serverPort())));
    QVERIFY(!sync.configured());
}

QTEST_GUILESS_MAIN(TestCalDavSync)
#include "tst_caldavsync.moc"
