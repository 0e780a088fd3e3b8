#include "fixture.h"
#include "notificationservice.h"
#include "settingsservice.h"
#include "testenv.h"

#include <QAudioOutput>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QMediaPlayer>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <cmath>
#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <sys/stat.h>

namespace {

// Names the sound file for the copy of this program that runs one check on its own.
const char kChildVariable[] = "TARVIK_SOUND_CHILD";

// Writes a mono 16-bit PCM WAV file with a sine tone of the given length.
bool writeTone(const QString &path, int seconds, int rate = 8000)
{
    const qint32 samples = seconds * rate;
    QByteArray data;
    data.reserve(samples * 2);
    for (qint32 i = 0; i < samples; ++i) {
        const auto value = qint16(16000 * std::sin(2 * M_PI * 440.0 * i / rate));
        const auto le = qToLittleEndian(value);
        data.append(reinterpret_cast<const char *>(&le), 2);
    }

    QByteArray header;
    auto put32 = [&header](quint32 v) {
        const auto le = qToLittleEndian(v);
        header.append(reinterpret_cast<const char *>(&le), 4);
    };
    auto put16 = [&header](quint16 v) {
        const auto le = qToLittleEndian(v);
        header.append(reinterpret_cast<const char *>(&le), 2);
    };
    header.append("RIFF");
    put32(36 + data.size());
    header.append("WAVEfmt ");
    put32(16);
    put16(1); // PCM
    put16(1); // mono
    put32(rate);
    put32(rate * 2);
    put16(2);
    put16(16);
    header.append("data");
    put32(data.size());

    QFile file(path);
    return file.open(QIODevice::WriteOnly)
           && file.write(header + data) == header.size() + data.size();
}

// Whether this Qt has the media backend plugin of that name (QT_MEDIA_BACKEND picks it): asked
// for one it lacks, Qt falls back to its default backend, which other rows already cover.
bool hasMediaBackend(const QString &name)
{
    const QDir plugins(QLibraryInfo::path(QLibraryInfo::PluginsPath)
                       + QStringLiteral("/multimedia"));
    return !plugins.entryList({ QStringLiteral("*%1mediaplugin*").arg(name) }, QDir::Files)
                    .isEmpty();
}

// Largest absolute sample in little-endian 16-bit PCM.
int peak(const QByteArray &pcm)
{
    int result = 0;
    for (qsizetype i = 0; i + 1 < pcm.size(); i += 2) {
        const qint16 v = qFromLittleEndian<qint16>(pcm.constData() + i);
        result = std::max(result, std::abs(int(v)));
    }
    return result;
}

// A PulseAudio server of the test's own, with one null sink, reachable only through a socket in
// a private runtime directory. PULSE_SERVER then points every client of this process at it.
class PulseServer
{
public:
    bool start()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (program.isEmpty()) {
            m_error = QStringLiteral("the pulseaudio program is not installed");
            return false;
        }
        if (!m_dir.isValid()) {
            m_error = QStringLiteral("no temporary directory");
            return false;
        }
        const QString runtime = m_dir.filePath(QStringLiteral("runtime"));
        const QString home = m_dir.filePath(QStringLiteral("home"));
        QDir().mkpath(runtime);
        QDir().mkpath(home);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                               | QFileDevice::ExeOwner);
        m_socket = runtime + QStringLiteral("/native");

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), runtime);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        env.remove(QStringLiteral("PULSE_SERVER"));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        // The server goes with this process, also when a crash or a signal ends it.
        m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        // Root gets only a warning; -n loads no default modules, just the two named here.
        m_process.start(
                program,
                { QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                  QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                  QStringLiteral("--disable-shm=yes"), QStringLiteral("-L"),
                  QStringLiteral("module-null-sink sink_name=tarvik_null"), QStringLiteral("-L"),
                  QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=")
                          + m_socket });
        if (!m_process.waitForStarted(10000)) {
            m_error = QStringLiteral("pulseaudio did not start: ") + m_process.errorString();
            return false;
        }

        // Ready once a client can talk to it.
        const QString pactl = QStandardPaths::findExecutable(QStringLiteral("pactl"));
        QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired()) {
            if (m_process.state() != QProcess::Running) {
                m_error = QStringLiteral("pulseaudio exited: ")
                          + QString::fromLocal8Bit(m_process.readAll()).trimmed();
                return false;
            }
            if (QFile::exists(m_socket)) {
                if (pactl.isEmpty())
                    return true;
                QProcess probe;
                probe.start(pactl, { QStringLiteral("-s"), server(), QStringLiteral("info") });
                if (probe.waitForFinished(5000) && probe.exitStatus() == QProcess::NormalExit
                    && probe.exitCode() == 0)
                    return true;
            }
            m_process.waitForReadyRead(100);
        }
        m_error = QStringLiteral("pulseaudio did not answer: ")
                  + QString::fromLocal8Bit(m_process.readAll()).trimmed();
        return false;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    ~PulseServer() { stop(); }

    QString server() const { return QStringLiteral("unix:") + m_socket; }
    QString monitor() const { return QStringLiteral("tarvik_null.monitor"); }
    QString error() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_socket;
    QString m_error;
};

} // namespace

class TestNotificationService : public QObject
{
    Q_OBJECT

public:
    // Runs in a copy of this program: one check that announces a task with the given sound,
    // then gives the media backend time to act on it.
    static int checkInChild(const QString &sound);

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void playerAndTimerAsBuilt();
    void startArmsTimerWithoutCheck();
    void timerTickRunsCheck();
    void announcedOncePerDueText();
    void announcedAgainAfterEdit_data();
    void announcedAgainAfterEdit();
    void tasksInWindowAllAnnouncedInOneCheck_data();
    void tasksInWindowAllAnnouncedInOneCheck();
    void snoozeComesBackOnceAfterRestart_data();
    void snoozeComesBackOnceAfterRestart();
    void withdrawnWhenActedOnOrChanged_data();
    void withdrawnWhenActedOnOrChanged();
    void notAnnounced_data();
    void notAnnounced();
    void leadTimeReadAtEachCheck();
    void dueSincePreviousCheckAnnounced();
    void wiredChecksAndReset();
    void signOutForgetsAndStopsSound();
    void emptySoundPathStillAnnounces();
    void unplayableSoundStillAnnounces_data();
    void unplayableSoundStillAnnounces();
    void soundNeverCrashesOrBlocks_data();
    void soundNeverCrashesOrBlocks();
    void soundReachesTheOutputAndStops();

private:
    // A task of the signed-in user, pending unless done; its id, or -1.
    int addTask(const QString &name, const QDateTime &due, bool done = false);
    static QDateTime inSeconds(qint64 seconds)
    {
        return QDateTime::currentDateTime().addSecs(seconds);
    }
    static QString dueText(const QDateTime &due)
    {
        return due.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    }
    bool signIn(const QString &user) { return signUp(m_app->auth, user) > 0; }
    void check() { m_notifier->checkDueTasks(); }
    QMediaPlayer *player() const { return m_notifier->m_player; }

    PulseServer m_pulse;
    bool m_pulseRunning = false;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TaskServices> m_app;
    std::unique_ptr<SettingsService> m_settings;
    std::unique_ptr<NotificationService> m_notifier;
};

void TestNotificationService::initTestCase()
{
    // Every sound of this process goes to a null sink of its own, never to a real speaker.
    m_pulseRunning = m_pulse.start();
    if (m_pulseRunning) {
        qputenv("PULSE_SERVER", m_pulse.server().toLocal8Bit());
    } else {
        qWarning("No PulseAudio server for this test: %s", qPrintable(m_pulse.error()));
        qputenv("PULSE_SERVER",
                (QStringLiteral("unix:") + testEnvironment.root() + QStringLiteral("/no-server"))
                        .toLocal8Bit());
    }
}

void TestNotificationService::cleanupTestCase()
{
    m_pulse.stop();
}

void TestNotificationService::init()
{
    m_dir = testEnvironment.newSettingsDirectory(QStringLiteral("t"));
    QVERIFY(m_dir->isValid());

    m_app = std::make_unique<TaskServices>(m_dir->filePath(QStringLiteral("taskmanager.db")));
    QVERIFY(m_app->opened);
    m_settings = std::make_unique<SettingsService>();
    m_notifier = std::make_unique<NotificationService>(&m_app->due, m_settings.get());
    QObject::connect(&m_app->auth, &AuthService::loggedOut, m_notifier.get(),
                     &NotificationService::clearNotified);
    QVERIFY(signIn(QStringLiteral("ann")));
}

void TestNotificationService::cleanup()
{
    m_notifier.reset();
    m_settings.reset();
    m_app.reset();
    m_dir.reset();
}

int TestNotificationService::addTask(const QString &name, const QDateTime &due, bool done)
{
    if (!m_app->tasks.createTask(name, due, done))
        return -1;
    const QVariant id = m_app->scalar(QStringLiteral("SELECT max(id) FROM tasks"));
    return id.isValid() ? id.toInt() : -1;
}

void TestNotificationService::playerAndTimerAsBuilt()
{
    QMediaPlayer *mediaPlayer = player();
    QVERIFY(mediaPlayer);
    QCOMPARE(mediaPlayer->parent(), m_notifier.get());
    QAudioOutput *output = m_notifier->m_audioOutput;
    QVERIFY(output);
    QCOMPARE(output->parent(), m_notifier.get());
    QCOMPARE(mediaPlayer->audioOutput(), output);
    QVERIFY(qFuzzyCompare(output->volume(), 0.8f));
    QCOMPARE(mediaPlayer->loops(), 1);

    QVERIFY(!m_notifier->m_timer.isActive());
    QCOMPARE(m_notifier->m_timer.interval(), 60000);

    // Seen from QML: the signals first, the slots and the window's calls after them.
    const QMetaObject *meta = m_notifier->metaObject();
    QCOMPARE(meta->propertyCount(), meta->propertyOffset());
    const QMetaMethod signal = meta->method(meta->methodOffset());
    QCOMPARE(signal.methodSignature(), QByteArray("taskDueSoon(qlonglong,QString,QString)"));
    QCOMPARE(signal.parameterNames(), (QList<QByteArray> { "taskId", "name", "expireAtText" }));
    QCOMPARE(meta->method(meta->methodOffset() + 1).methodSignature(),
             QByteArray("reminderWithdrawn(qlonglong)"));
    for (const char *method : { "clearNotified()", "stopSound()", "markDone(qlonglong)",
                                "snooze(qlonglong,QString)", "dismiss(qlonglong)", "testSound()" })
        QVERIFY2(meta->indexOfMethod(method) >= meta->methodOffset(), method);
}

void TestNotificationService::startArmsTimerWithoutCheck()
{
    QVERIFY(addTask(QStringLiteral("due soon"), inSeconds(120)) > 0);
    QSignalSpy spy(m_notifier.get(), &NotificationService::taskDueSoon);

    m_notifier->start();

    const QTimer &timer = m_notifier->m_timer;
    QVERIFY(timer.isActive());
    QCOMPARE(timer.interval(), 60000);
    QVERIFY(!timer.isSingleShot());
    QVERIFY(timer.remainingTime() > 55000);
    QCoreApplication::processEvents();
    QCOMPARE(spy.count(), 0);
    QVERIFY(m_notifier->m_notified.isEmpty());
}

void TestNotificationService::timerTickRunsCheck()
{
    const int id = addTask(QStringLiteral("due soon"), inSeconds(120));
    QSignalSpy spy(m_notifier.get(), &NotificationService::taskDueSoon);

    // The timer's own tick, brought forward: the check runs on it and keeps running.
    m_notifier->start();
    m_notifier->m_timer.setInterval(1);
    QTRY_COMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toInt(), id);
    QVERIFY(m_notifier->m_timer.isActive());
}

void TestNotificationService::announcedOncePerDueText()
{
    const QDateTime due = inSeconds(5 * 60);
    const int id = addTask(QStringLiteral("Pay rent"), due);
    QSignalSpy spy(m_notifier.get(), &NotificationService::taskDueSoon);

    check();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first(), (QVariantList { id, QStringLiteral("Pay rent"), dueText(due) }));
    QCOMPARE(m_notifier->m_notified.value(id), dueText(due));

    check();
    check();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(m_notifier->m_notified.size(), 1);
}

void TestNotificationService::announcedAgainAfterEdit_data()
{
    QTest::addColumn<int>("shiftSeconds");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<bool>("again");

    QTest::newRow("another minute") << 180 << "Pay rent" << true;
    QTest::newRow("one minute earlier") << -60 << "Pay rent" << true;
    QTest::newRow("same minute, other seconds") << 40 << "Pay rent" << false;
    QTest::newRow("name only") << 0 << "Pay the rent" << false;
}

void TestNotificationService::announcedAgainAfterEdit()
{
    QFETCH(int, shiftSeconds);
    QFETCH(QString, newName);
    QFETCH(bool, again);

    // Five seconds past a minute, five minutes ahead: edits stay inside the minute or the window.
    QDateTime due = inSeconds(5 * 60);
    due.setTime(QTime(due.time().hour(), due.time().minute(), 5));
    const int id = addTask(QStringLiteral("Pay rent"), due);
    QSignalSpy spy(m_notifier.get(), &NotificationService::taskDueSoon);
    check();
    QCOMPARE(spy.count(), 1);

    const QDateTime edited = due.addSecs(shiftSeconds);
    QVERIFY(m_app->tasks.updateTask(id, newName, false, edited));
    check();
    check();
    QCOMPARE(spy.count(), again ? 2 : 1);
    if (again)
        QCOMPARE(spy.last(), (QVariantList { id, newName, dueText(edited) }));
    QCOMPARE(m_notifier->m_notified.value(id), dueText(edited));
}

void TestNotificationService::tasksInWindowAllAnnouncedInOneCheck_data()
{
    QTest::addColumn<QList<int>>("dueMinutes");
    QTest::addColumn<QList<int>>("expectedOrder"); // indices into dueMinutes
    QTest::addColumn<QList<int>>("leads"); // each task's own; -2: the account's (10 minutes)

    const QList<int> account { -2, -2, -2 };
    QTest::newRow("two due times") << QList<int> { 3, 6 } << QList<int> { 0, 1 } << account;
    QTest::newRow("later one created first")
            << QList<int> { 6, 3 } << QList<int> { 1, 0 } << account;
    QTest::newRow("same due time, by id") << QList<int> { 4, 4 } << QList<int> { 0, 1 } << account;
    QTest::newRow("three, two sharing a time")
            << QList<int> { 7, 2, 7 } << QList<int> { 1, 0, 2 } << account;
    QTest::newRow("each at its own lead")
            << QList<int> { 600, 3, 5, 2, 30, 20 } << QList<int> { 1, 4, 0 }
            << QList<int> { 1440, -2, 0, -1, 60, 15 };
    QTest::newRow("at the due time, when it comes")
            << QList<int> { 0 } << QList<int> { 0 } << QList<int> { 0 };
}

void TestNotificationService::tasksInWindowAllAnnouncedInOneCheck()
{
    QFETCH(QList<int>, dueMinutes);
    QFETCH(QList<int>, expectedOrder);
    QFETCH(QList<int>, leads);

    // Same second for tasks that share a minute offset: their due times are equal.
    const qint64 nowEpoch = QDateTime::currentSecsSinceEpoch();
    m_notifier->setClock([nowEpoch] { return nowEpoch; });
    const QDateTime now = QDateTime::fromSecsSinceEpoch(nowEpoch);
    QList<int> ids;
    for (int minutes : dueMinutes) {
        ids.append(addTask(QStringLiteral("task %1").arg(ids.size()), now.addSecs(minutes * 60)));
        QVERIFY(m_app->tasks.setReminderLead(ids.last(), leads.at(ids.size() - 1)));
    }
    QSignalSpy spy(m_notifier.get(), &NotificationService::taskDueSoon);

    // Each has a reminder of its own, none held back behind another.
    check();
    QCOMPARE(spy.count(), expectedOrder.size());
    for (int i = 0; i < expectedOrder.size(); ++i)
        QCOMPARE(spy.at(i).first().toInt(), ids.at(expectedOrder.at(i)));
    check();
    QCOMPARE(spy.count(), expectedOrder.size());
    QCOMPARE(m_notifier->m_notified.size(), expectedOrder.size());
}

void TestNotificationService::snoozeComesBackOnceAfterRestart_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<qint64>("afterSeconds"); // -1: tomorrow at 09:00
    QTest::addColumn<int>("lead"); // the task's own, chosen while put off; -2: the account's

    QTest::newRow("10 minutes") << "10m" << qint64(600) << -2;
    QTest::newRow("1 hour") << "1h" << qint64(3600) << -2;
    QTest::newRow("tomorrow at 09:00") << "tomorrow" << qint64(-1) << -2;
    QTest::newRow("a time picked") << "at" << qint64(5000) << -2;
    QTest::newRow("1 hour, a day ahead") << "1h" << qint64(3600) << 1440;
    QTest::newRow("1 hour, then no reminder") << "1h" << qint64(3600) << -1;
}

void TestNotificationService::snoozeComesBackOnceAfterRestart()
{
    QFETCH(QString, choice);
    QFETCH(qint64, afterSeconds);
    QFETCH(int, lead);

    qint64 now = QDateTime::currentSecsSinceEpoch();
    m_notifier->setClock([&now] { return now; });
    const QDateTime due = QDateTime::fromSecsSinceEpoch(now + 120);
    const int id = addTask(QStringLiteral("Pay rent"), due);
    QSignalSpy spy(m_notifier.get(), &NotificationService::taskDueSoon);
    QSignalSpy withdrawn(m_notifier.get(), &NotificationService::reminderWithdrawn);
    check();
    QCOMPARE(spy.count(), 1);
    if (choice == QLatin1String("at")) {
        QVERIFY(!m_notifier->snooze(id, QStringLiteral("at:%1").arg(now)));
        choice = QStringLiteral("at:%1").arg(now + afterSeconds);
    }
    QVERIFY(m_notifier->snooze(id, choice));
    QCOMPARE(withdrawn.count(), 1);
    QVERIFY(!m_notifier->snooze(id, QStringLiteral("someday")));
    QVERIFY(m_app->tasks.setReminderLead(id, lead));

    const qint64 end =
            afterSeconds > 0
                    ? now + afterSeconds
                    : QDateTime(QDateTime::fromSecsSinceEpoch(now).date().addDays(1), QTime(9, 0))
                              .toSecsSinceEpoch();
    QCOMPARE(m_app->scalar(QStringLiteral("SELECT until_epoch FROM task_snoozes")).toLongLong(),
             end);

    // A restart: a new service knows only what the database holds.
    m_notifier = std::make_unique<NotificationService>(&m_app->due, m_settings.get());
    m_notifier->setClock([&now] { return now; });
    QSignalSpy again(m_notifier.get(), &NotificationService::taskDueSoon);
    for (const qint64 at : { now + 60, end - 1, end, end + 60, end + 120 }) {
        now = at;
        check();
    }
    QCOMPARE(again.count(), lead == -1 ? 0 : 1);
    if (lead != -1)
        QCOMPARE(again.first(), (QVariantList { id, QStringLiteral("Pay rent"), dueText(due) }));
    QCOMPARE(m_app->scalar(QStringLiteral("SELECT expire_at_epoch FROM tasks")).toLongLong(),
             due.toSecsSinceEpoch());
    QCOMPARE(m_app->scalar(QStringLiteral("SELECT count(*) FROM task_snoozes")).toInt(), 0);
}

void TestNotificationService::withdrawnWhenActedOnOrChanged_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("withdrawn");
    QTest::addColumn<int>("doneFlag");

    QTest::newRow("Mark done on the toast") << "mark done" << true << 1;
    QTest::newRow("dismissed") << "dismiss" << true << 0;
    QTest::newRow("done in the window") << "done elsewhere" << true << 1;
    QTest::newRow("deleted") << "delete" << true << -1;
    QTest::newRow("given another due time") << "move" << true << 0;
    QTest::newRow("set to no reminder") << "no reminder" << true << 0;
    QTest::newRow("given a reminder of its own") << "own reminder" << false << 0;
    QTest::newRow("renamed only") << "rename" << false << 0;
    QTest::newRow("Done tasks deleted, it pending") << "delete done" << false << 0;
}

void TestNotificationService::withdrawnWhenActedOnOrChanged()
{
    QFETCH(QString, action);
    QFETCH(bool, withdrawn);

    m_notifier->setTaskService(&m_app->tasks);
    connect(&m_app->store, &TaskStore::tasksChanged, m_notifier.get(),
            &NotificationService::onTasksChanged);
    const QDateTime due = inSeconds(300);
    const int id = addTask(QStringLiteral("Send invoice"), due);
    const int other = addTask(QStringLiteral("Pay rent"), inSeconds(240));
    QSignalSpy spy(m_notifier.get(), &NotificationService::reminderWithdrawn);
    check();

    if (action == "mark done")
        QVERIFY(m_notifier->markDone(id));
    else if (action == "dismiss")
        m_notifier->dismiss(id);
    else if (action == "done elsewhere")
        QVERIFY(m_app->tasks.updateTask(id, QStringLiteral("Send invoice"), true, due));
    else if (action == "delete")
        QVERIFY(m_app->tasks.deleteTask(id));
    else if (action == "move" || action == "rename")
        QVERIFY(m_app->tasks.updateTask(id, QStringLiteral("Send the invoice"), false,
                                        action == "move" ? due.addSecs(3600) : due));
    else if (action == "no reminder" || action == "own reminder")
        QVERIFY(m_app->tasks.setReminderLead(id, action == "own reminder" ? 60 : -1));
    else
        QVERIFY(m_app->tasks.deleteAllInactive());

    QCOMPARE(!spy.isEmpty(), withdrawn);
    for (const QVariantList &arguments : std::as_const(spy))
        QCOMPARE(arguments.first().toInt(), id);
    QTEST(m_app->scalar(QStringLiteral("SELECT coalesce(max(active), -1) FROM tasks WHERE id = ?"),
                        id)
                  .toInt(),
          "doneFlag");
    QVERIFY(m_app->scalar(QStringLiteral("SELECT active FROM tasks WHERE id = ?"), other).toInt()
            == 0);
}

void TestNotificationService::notAnnounced_data()
{
    QTest::addColumn<QString>("situation");

    QTest::newRow("done") << "done";
    QTest::newRow("deleted") << "deleted";
    QTest::newRow("already past") << "past";
    QTest::newRow("beyond the lead time") << "beyond";
    QTest::newRow("another user's task") << "other user";
    QTest::newRow("signed out") << "signed out";
    QTest::newRow("lead time zero") << "zero lead";
    QTest::newRow("negative lead time") << "negative lead";
}

void TestNotificationService::notAnnounced()
{
    QFETCH(QString, situation);

    const int id = addTask(QStringLiteral("task"), inSeconds(situation == "past" ? -60 : 120),
                           situation == "done");
    QVERIFY(id > 0);
    if (situation == "deleted")
        QVERIFY(m_app->tasks.deleteTask(id));
    if (situation == "beyond")
        m_settings->setNotifyMinutes(1);
    if (situation == "zero lead")
        m_settings->setNotifyMinutes(0);
    if (situation == "negative lead")
        m_settings->setNotifyMinutes(-5);
    if (situation == "other user")
        QVERIFY(signIn(QStringLiteral("bob")));
    if (situation == "signed out")
        m_app->auth.logout();

    QSignalSpy spy(m_notifier.get(), &NotificationService::taskDueSoon);
    check();
    QCOMPARE(spy.count(), 0);
    QVERIFY(m_notifier->m_notified.isEmpty());
}

void TestNotificationService::leadTimeReadAtEachCheck()
{
    addTask(QStringLiteral("in a quarter of an hour"), inSeconds(15 * 60));
    QSignalSpy spy(m_notifier.get(), &NotificationService::taskDueSoon);

    check();
    QCOMPARE(spy.count(), 0);

    m_settings->setNotifyMinutes(20);
    check();
    QCOMPARE(spy.count(), 1);
}

// A late tick (a busy machine, a suspend) still announces what fell due since the check before.
void TestNotificationService::dueSincePreviousCheckAnnounced()
{
    check();
    m_notifier->m_checkFrom -= 90;
    const int id = addTask(QStringLiteral("slipped between checks"), inSeconds(-40));
    QSignalSpy spy(m_notifier.get(), &NotificationService::taskDueSoon);
    check();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toLongLong(), id);
}

// As the program wires it: a check at sign-in, at every save and import, a clean record at
// sign-out.
void TestNotificationService::wiredChecksAndReset()
{
    m_notifier.reset();
    m_app.reset();
    ProgramServices program(m_dir->filePath(QStringLiteral("wired.db")));
    QSignalSpy spy(&program.services.notifier(), &NotificationService::taskDueSoon);
    QVERIFY(signUp(program.auth, QStringLiteral("ann")) > 0);
    // Names held for searching are let go at sign-out.
    program.tasks.setNameIndexLimits(0, 100, 0);
    QVERIFY(program.tasks.createTask(QStringLiteral("soon"), inSeconds(40), false));
    QCOMPARE(spy.count(), 1);
    QTRY_VERIFY(program.tasks.nameIndexReady());
    program.auth.logout();
    QVERIFY(program.auth.login(QStringLiteral("ann"), kTestPassword));
    QVERIFY(!program.tasks.nameIndexReady());
    QCOMPARE(spy.count(), 2);
    const QByteArray due = inSeconds(50).toUTC().toString("yyyyMMdd'T'HHmmss'Z'").toLatin1();
    QVERIFY(program.services.transfer()
                    .importCalendar("BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nSUMMARY:imported\r\nDUE:"
                                    + due + "\r\nEND:VTODO\r\nEND:VCALENDAR\r\n")
                    .ok);
    QCOMPARE(spy.count(), 3);
}

void TestNotificationService::signOutForgetsAndStopsSound()
{
    const QString sound = m_dir->filePath(QStringLiteral("tone.wav"));
    QVERIFY(writeTone(sound, 10));
    m_settings->setSoundFile(sound);
    const int id = addTask(QStringLiteral("Call Bob"), inSeconds(120));
    QSignalSpy spy(m_notifier.get(), &NotificationService::taskDueSoon);

    check();
    QCOMPARE(spy.count(), 1);
    if (m_pulseRunning) {
        QCOMPARE(player()->source(), QUrl::fromLocalFile(sound));
        // Some backends load the file first and report playing a little later.
        QTRY_COMPARE(player()->playbackState(), QMediaPlayer::PlayingState);
    }

    m_app->auth.logout();
    QVERIFY(m_notifier->m_notified.isEmpty());
    QCOMPARE(player()->playbackState(), QMediaPlayer::StoppedState);

    // Signed in again, the task is still due soon and is announced anew.
    QVERIFY(m_app->auth.login(QStringLiteral("ann"), kTestPassword));
    check();
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.last().first().toInt(), id);
    m_notifier->stopSound();
    QCOMPARE(player()->playbackState(), QMediaPlayer::StoppedState);
}

void TestNotificationService::emptySoundPathStillAnnounces()
{
    QVERIFY(m_settings->soundFile().isEmpty());
    addTask(QStringLiteral("quiet"), inSeconds(120));
    QSignalSpy spy(m_notifier.get(), &NotificationService::taskDueSoon);

    check();
    QCOMPARE(spy.count(), 1);
    QVERIFY(player()->source().isEmpty());
    QCOMPARE(player()->playbackState(), QMediaPlayer::StoppedState);

    // Stopping with nothing playing, and clearing an empty record, are harmless.
    m_notifier->stopSound();
    m_notifier->clearNotified();
    m_notifier->clearNotified();
    QVERIFY(m_notifier->m_notified.isEmpty());
}

void TestNotificationService::unplayableSoundStillAnnounces_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("handedToPlayer");

    QTest::newRow("missing file") << "missing" << false;
    QTest::newRow("directory") << "directory" << false;
    QTest::newRow("empty file") << "empty" << false;
    QTest::newRow("dangling link") << "dangling" << false;
    QTest::newRow("text file") << "text" << true;
    QTest::newRow("truncated WAV") << "truncated" << true;
}

void TestNotificationService::unplayableSoundStillAnnounces()
{
    QFETCH(QString, kind);
    QFETCH(bool, handedToPlayer);

    const QString path = m_dir->filePath(QStringLiteral("sound.wav"));
    if (kind == "directory") {
        QVERIFY(QDir().mkpath(path));
    } else if (kind == "empty" || kind == "text") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (kind != "empty")
            file.write("This is a shopping list, not a sound.\n");
    } else if (kind == "dangling") {
        QVERIFY(QFile::link(m_dir->filePath(QStringLiteral("gone.wav")), path));
    } else if (kind == "truncated") {
        QVERIFY(writeTone(path, 1));
        QVERIFY(QFile::resize(path, 30));
    }

    m_settings->setSoundFile(path);
    const int id = addTask(QStringLiteral("Water the plants"), inSeconds(120));
    QSignalSpy spy(m_notifier.get(), &NotificationService::taskDueSoon);

    check();
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toInt(), id);

    if (!handedToPlayer || !m_pulseRunning) {
        QVERIFY(player()->source().isEmpty());
        return;
    }
    // The backend gives up on its own; the program carries on.
    QCOMPARE(player()->source(), QUrl::fromLocalFile(path));
    QTRY_VERIFY_WITH_TIMEOUT(player()->mediaStatus() == QMediaPlayer::InvalidMedia
                                     || player()->error() != QMediaPlayer::NoError
                                     || player()->playbackState() == QMediaPlayer::StoppedState,
                             10000);
    m_notifier->stopSound();
}

int TestNotificationService::checkInChild(const QString &sound)
{
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    TaskServices app(dir.filePath(QStringLiteral("taskmanager.db")));
    if (!app.opened)
        return 3;
    SettingsService settings;
    settings.setSoundFile(sound);
    NotificationService notifier(&app.due, &settings);
    if (signUp(app.auth, QStringLiteral("ann")) < 0
        || !app.tasks.createTask(QStringLiteral("due"), QDateTime::currentDateTime().addSecs(120),
                                 false))
        return 4;

    int announced = 0;
    QObject::connect(&notifier, &NotificationService::taskDueSoon, [&announced] { ++announced; });
    notifier.checkDueTasks();

    // What the backend does with a sound it was given happens while it plays: let it run to the
    // end (a one-second tone) before calling the run good.
    QMediaPlayer *player = notifier.m_player;
    const bool handed = !player->source().isEmpty();
    if (handed) {
        QDeadlineTimer deadline(3000); // FFmpeg reports "playing" for ever after a bad file
        QTest::qWait(500);
        while (player->playbackState() == QMediaPlayer::PlayingState
               && player->error() == QMediaPlayer::NoError
               && player->mediaStatus() != QMediaPlayer::InvalidMedia && !deadline.hasExpired())
            QTest::qWait(100);
    }
    notifier.stopSound();
    printf("announced %d, sound %s\n", announced, handed ? "handed to the player" : "skipped");
    return announced == 1 ? 0 : 5;
}

void TestNotificationService::soundNeverCrashesOrBlocks_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("withOutput");
    QTest::addColumn<QString>("backend");
    QTest::addColumn<bool>("played");

    QTest::newRow("no audio output, default backend") << "wav" << false << "" << false;
    QTest::newRow("no audio output, GStreamer") << "wav" << false << "gstreamer" << false;
    QTest::newRow("no audio output, FFmpeg") << "wav" << false << "ffmpeg" << false;
    QTest::newRow("FIFO that nobody writes") << "fifo" << true << "" << false;
    QTest::newRow("text file, default backend") << "text" << true << "" << true;
    QTest::newRow("text file, FFmpeg") << "text" << true << "ffmpeg" << true;
    QTest::newRow("WAV, FFmpeg") << "wav" << true << "ffmpeg" << true;
}

void TestNotificationService::soundNeverCrashesOrBlocks()
{
    QFETCH(QString, kind);
    QFETCH(bool, withOutput);
    QFETCH(QString, backend);
    QFETCH(bool, played);

    if (withOutput && !m_pulseRunning)
        QSKIP(qPrintable(QStringLiteral("PulseAudio could not start: ") + m_pulse.error()));
    if (!backend.isEmpty() && !hasMediaBackend(backend))
        QSKIP(qPrintable(QStringLiteral("this Qt has no %1 media backend").arg(backend)));

    const QString sound = m_dir->filePath(QStringLiteral("sound.wav"));
    if (kind == "wav") {
        QVERIFY(writeTone(sound, 1));
    } else if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(sound).constData(), 0600), 0);
    } else {
        QFile file(sound);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("This is a shopping list, not a sound.\n");
    }

    // A copy of this program runs one check; a crash or a hang shows in how it ends.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildVariable), sound);
    if (!withOutput) {
        env.insert(QStringLiteral("PULSE_SERVER"),
                   QStringLiteral("unix:") + m_dir->filePath(QStringLiteral("no-server")));
        env.remove(QStringLiteral("PULSE_RUNTIME_PATH"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir->path());
    }
    if (backend.isEmpty())
        env.remove(QStringLiteral("QT_MEDIA_BACKEND"));
    else
        env.insert(QStringLiteral("QT_MEDIA_BACKEND"), backend);

    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForStarted());
    const bool finished = child.waitForFinished(30000);
    if (!finished) {
        child.kill();
        child.waitForFinished();
    }
    const QByteArray output = child.readAll();
    QVERIFY2(finished, ("the check blocked: " + output).constData());
    QVERIFY2(child.exitStatus() == QProcess::NormalExit, ("it crashed: " + output).constData());
    QVERIFY2(child.exitCode() == 0, output.constData());
    QVERIFY2(output.contains("announced 1"), output.constData());
    QVERIFY2(output.contains(played ? "handed to the player" : "sound skipped"),
             output.constData());
}

void TestNotificationService::soundReachesTheOutputAndStops()
{
    if (!m_pulseRunning)
        QSKIP(qPrintable(QStringLiteral("PulseAudio could not start here, so no sound can be "
                                        "recorded: ")
                         + m_pulse.error()));
    const QString parec = QStandardPaths::findExecutable(QStringLiteral("parec"));
    QVERIFY2(!parec.isEmpty(), "parec (pulseaudio-utils) is not installed");

    const QString sound = m_dir->filePath(QStringLiteral("tone.wav"));
    QVERIFY(writeTone(sound, 10));
    m_settings->setSoundFile(QUrl::fromLocalFile(sound).toString());
    QCOMPARE(m_settings->soundFile(), sound);

    // Everything the null sink plays, as 8 kHz mono samples.
    QProcess recorder;
    QByteArray recorded;
    connect(&recorder, &QProcess::readyReadStandardOutput, this,
            [&] { recorded += recorder.readAllStandardOutput(); });
    recorder.start(parec,
                   { QStringLiteral("--server=") + m_pulse.server(),
                     QStringLiteral("--device=") + m_pulse.monitor(), QStringLiteral("--raw"),
                     QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                     QStringLiteral("--rate=8000"), QStringLiteral("--latency-msec=20") });
    QVERIFY(recorder.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(recorded.size() >= 1600, 10000); // the first 0.1 s arrived
    QVERIFY2(peak(recorded) < 100, "the null sink is not silent before the check");

    addTask(QStringLiteral("Listen"), inSeconds(120));
    QSignalSpy spy(m_notifier.get(), &NotificationService::taskDueSoon);
    const qsizetype before = recorded.size();
    check();
    QCOMPARE(spy.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(peak(recorded.mid(before)) > 3000, 10000);

    // Stopped long before the ten-second tone ends, the sink falls silent again.
    m_notifier->stopSound();
    QCOMPARE(player()->playbackState(), QMediaPlayer::StoppedState);
    const qsizetype stopped = recorded.size();
    QTRY_VERIFY_WITH_TIMEOUT(recorded.size() > stopped + 4000 && peak(recorded.right(1600)) < 100,
                             5000);

    recorder.terminate();
    if (!recorder.waitForFinished(5000))
        recorder.kill();
}

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kChildVariable))
        return TestNotificationService::checkInChild(qEnvironmentVariable(kChildVariable));

    TestNotificationService test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notificationservice.moc"
