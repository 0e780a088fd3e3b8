#include "appservices.h"
#include "desktopnotifier.h"
#include "fixture.h"
#include "testenv.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

// The client against python3-dbusmock's notification daemon on a bus of the test's own.
class TestDesktopNotifier : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The tests' bus starts none of the machine's services, a notification daemon among them.
        m_bus.start(QStringLiteral("dbus-daemon"),
                    { QStringLiteral("--config-file=" TARVIK_TESTS_DIR "/session-bus.conf"),
                      QStringLiteral("--nofork"), QStringLiteral("--print-address=1") });
        QVERIFY(m_bus.waitForReadyRead(10000));
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
        m_mock.start(QStringLiteral("/usr/bin/python3"),
                     { QStringLiteral("-m"), QStringLiteral("dbusmock"),
                       QStringLiteral("--template"), QStringLiteral("notification_daemon") });
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                         QStringLiteral("org.freedesktop.Notifications")),
                                 15000);
    }

    void cleanupTestCase()
    {
        for (QProcess *process : { &m_mock, &m_bus }) {
            process->kill();
            process->waitForFinished();
        }
    }

    void init() { mock(QStringLiteral("ClearCalls")); }
    void cleanup() { releaseDefaultConnection(); }

    void replacesItsNotificationAndClosesIt_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("body");
        QTest::addColumn<int>("actionCount");
        QTest::newRow("markup and actions") << QStringList { "body-markup", "actions" }
                                            << QStringLiteral("a&lt;b &amp; c") << 4;
        QTest::newRow("plain text, no actions")
                << QStringList { "body" } << QStringLiteral("a<b & c") << 0;
    }

    void replacesItsNotificationAndClosesIt()
    {
        QFETCH(QStringList, capabilities);
        mock(QStringLiteral("AddMethod"), kInterface, QStringLiteral("GetCapabilities"), QString(),
             QStringLiteral("as"), QStringLiteral("ret = ['%1']").arg(capabilities.join("', '")));
        DesktopNotifier notifier;
        notifier.show(QStringLiteral("first"), QStringLiteral("a<b & c"));
        QTRY_COMPARE(calls("Notify").size(), 1);
        // The third comes while the second (or the first) is on its way: it waits for the id
        // it replaces. The second may be left out: it was replaced before it went.
        notifier.show(QStringLiteral("second"), QStringLiteral("a<b & c"));
        notifier.show(QStringLiteral("third"), QStringLiteral("a<b & c"));
        QTRY_COMPARE(calls("Notify").constLast().value(3).toString(), QStringLiteral("third"));
        notifier.close();
        QTRY_COMPARE(calls("CloseNotification").size(), 1);

        const QList<QVariantList> notes = calls("Notify");
        QCOMPARE(notes[0].value(1).toUInt(), 0u);
        const uint id = notes.constLast().value(1).toUInt();
        QVERIFY(id != 0);
        for (const QVariantList &note : notes.mid(1))
            QCOMPARE(note.value(1).toUInt(), id);
        QTEST(notes.constLast().value(4).toString(), "body");
        QTEST(int(qdbus_cast<QStringList>(notes.constLast().value(5)).size()), "actionCount");
        QCOMPARE(calls("CloseNotification")[0].value(0).toUInt(), id);
    }

    void showComesOnlyFromItsOwnNotification()
    {
        DesktopNotifier notifier;
        QSignalSpy shown(&notifier, &DesktopNotifier::showRequested);
        notifier.show(QStringLiteral("mine"), QString());
        QTRY_COMPARE(calls("Notify").size(), 1);
        notifier.show(QStringLiteral("mine again"), QString());
        QTRY_COMPARE(calls("Notify").size(), 2);
        const uint id = calls("Notify")[1].value(1).toUInt();
        for (const auto &[target, action] :
             { std::pair(id + 1, "show"), std::pair(id, "other"), std::pair(id, "show") })
            mock(QStringLiteral("EmitSignal"), kInterface, QStringLiteral("ActionInvoked"),
                 QStringLiteral("us"),
                 QVariantList { QVariant::fromValue(QDBusVariant(target)),
                                QVariant::fromValue(QDBusVariant(QString::fromLatin1(action))) });
        QTRY_COMPARE(shown.size(), 1);
        // Signals come in order: all three have been delivered once this answer is in.
        mock(QStringLiteral("GetCalls"));
        QCoreApplication::processEvents();
        QCOMPARE(shown.size(), 1);
    }

    // An action on a task's reminder on the desktop acts on the task and takes the
    // notification away. Last: the daemon answers every Notify with one id from here on.
    void actionOnAReminder_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("doneFlag");
        QTest::addColumn<int>("snoozes");
        QTest::addColumn<int>("shown");
        QTest::newRow("Mark done") << "done" << 1 << 0 << 0;
        QTest::newRow("Snooze 10 minutes") << "snooze-10m" << 0 << 1 << 0;
        QTest::newRow("Show") << "show" << 0 << 0 << 1;
    }

    void actionOnAReminder()
    {
        QFETCH(QString, action);
        const uint id = 4242;
        mock(QStringLiteral("AddMethod"), kInterface, QStringLiteral("GetCapabilities"), QString(),
             QStringLiteral("as"), QStringLiteral("ret = ['body', 'actions']"));
        mock(QStringLiteral("AddMethod"), kInterface, QStringLiteral("Notify"),
             QStringLiteral("susssasa{sv}i"), QStringLiteral("u"),
             QStringLiteral("ret = %1").arg(id));
        ProgramServices program(testEnvironment.newDatabasePath());
        QSignalSpy shown(&program.services.desktop(), &DesktopIntegration::showTaskRequested);
        QVERIFY(signUp(program.auth, QStringLiteral("ann")) > 0);
        QVERIFY(program.tasks.createTask(QStringLiteral("Pay rent"),
                                         QDateTime::currentDateTimeUtc().addSecs(120), false));
        QTRY_COMPARE(calls("Notify").size(), 1);
        QVERIFY(qdbus_cast<QStringList>(calls("Notify")[0].value(5)).contains(action));

        mock(QStringLiteral("EmitSignal"), kInterface, QStringLiteral("ActionInvoked"),
             QStringLiteral("us"),
             QVariantList { QVariant::fromValue(QDBusVariant(id)),
                            QVariant::fromValue(QDBusVariant(action)) });
        QTRY_COMPARE(calls("CloseNotification").size(), 1);
        QCOMPARE(calls("CloseNotification")[0].value(0).toUInt(), id);
        QTEST(program.scalar(QStringLiteral("SELECT active FROM tasks")).toInt(), "doneFlag");
        QTEST(program.scalar(QStringLiteral("SELECT count(*) FROM task_snoozes")).toInt(),
              "snoozes");
        QTEST(int(shown.size()), "shown");
        QCOMPARE(calls("Notify").size(), 1);
    }

private:
    const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

    // Calls the mock's control interface (plain messages: no introspection to cache).
    template<typename... Arguments>
    static QDBusMessage mock(const QString &method, const Arguments &...arguments)
    {
        QDBusMessage message =
                QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                               QStringLiteral("/org/freedesktop/Notifications"),
                                               QStringLiteral("org.freedesktop.DBus.Mock"), method);
        message.setArguments({ QVariant::fromValue(arguments)... });
        return QDBusConnection::sessionBus().call(message);
    }

    // The arguments of every call of method the daemon received, oldest first.
    static QList<QVariantList> calls(const char *method)
    {
        const QDBusMessage reply =
                mock(QStringLiteral("GetMethodCalls"), QString::fromLatin1(method));
        QList<QVariantList> result;
        const QDBusArgument array = reply.arguments().value(0).value<QDBusArgument>();
        array.beginArray();
        while (!array.atEnd()) {
            quint64 time = 0;
            QVariantList arguments;
            array.beginStructure();
            array >> time >> arguments;
            array.endStructure();
            result << arguments;
        }
        array.endArray();
        return result;
    }

    QProcess m_bus;
    QProcess m_mock;
};

QTEST_GUILESS_MAIN(TestDesktopNotifier)

#include "tst_desktopnotifier.moc"
