#include "settingsservice.h"
#include "testenv.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TestSettingsService : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void firstRunDefaultsWriteNothing();
    void sameValuesWriteAndEmitNothing();
    void notifyMinutesStoredUnbounded_data();
    void notifyMinutesStoredUnbounded();
    void soundFileNormalised_data();
    void soundFileNormalised();
    void sameFileChosenTwiceEmitsOnce();
    void emptySoundFileClears();
    void valuesSurviveIntoSecondInstance();
    void storedValuesLoadUnchecked_data();
    void storedValuesLoadUnchecked();
    void qmlPropertiesGoThroughSetters();

private:
    // The file the store of the current test writes.
    QString settingsFile() const { return settingsFileIn(m_config->path()); }
    QString settingsText() const
    {
        QFile file(settingsFile());
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromUtf8(file.readAll());
    }

    std::unique_ptr<QTemporaryDir> m_config;
};

void TestSettingsService::init()
{
    // Each test gets a settings store of its own, in a fresh directory.
    m_config = testEnvironment.newSettingsDirectory(QStringLiteral("config"));
    QVERIFY(m_config->isValid());
}

void TestSettingsService::firstRunDefaultsWriteNothing()
{
    {
        SettingsService settings;
        QCOMPARE(settings.notifyMinutes(), 10);
        QCOMPARE(settings.soundFile(), QString());
    }
    QVERIFY2(!QFile::exists(settingsFile()), qPrintable(settingsText()));

    // The service really uses this store: a change lands in that file.
    {
        SettingsService settings;
        settings.setNotifyMinutes(11);
    }
    QVERIFY(QFile::exists(settingsFile()));
}

void TestSettingsService::sameValuesWriteAndEmitNothing()
{
    {
        SettingsService settings;
        QSignalSpy minutesSpy(&settings, &SettingsService::notifyMinutesChanged);
        QSignalSpy soundSpy(&settings, &SettingsService::soundFileChanged);
        settings.setNotifyMinutes(10);
        settings.setSoundFile(QString());
        settings.setSoundFile(QStringLiteral(""));
        QCOMPARE(minutesSpy.count(), 0);
        QCOMPARE(soundSpy.count(), 0);
    }
    QVERIFY(!QFile::exists(settingsFile()));

    {
        SettingsService settings;
        settings.setNotifyMinutes(5);
        settings.setSoundFile(QStringLiteral("/tmp/bell.wav"));
    }
    // Date the file back, so that any rewrite would show in its modification time.
    const QDateTime written = QDateTime::currentDateTime().addDays(-1);
    {
        QFile file(settingsFile());
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(written, QFileDevice::FileModificationTime));
    }
    const QString text = settingsText();

    {
        SettingsService settings;
        QSignalSpy minutesSpy(&settings, &SettingsService::notifyMinutesChanged);
        QSignalSpy soundSpy(&settings, &SettingsService::soundFileChanged);
        settings.setNotifyMinutes(5);
        settings.setSoundFile(QStringLiteral("/tmp/bell.wav"));
        settings.setSoundFile(QStringLiteral("file:///tmp/bell.wav"));
        QCOMPARE(minutesSpy.count(), 0);
        QCOMPARE(soundSpy.count(), 0);
    }
    QCOMPARE(QFileInfo(settingsFile()).lastModified().toSecsSinceEpoch(),
             written.toSecsSinceEpoch());
    QCOMPARE(settingsText(), text);
}

void TestSettingsService::notifyMinutesStoredUnbounded_data()
{
    QTest::addColumn<int>("minutes");

    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -5;
    QTest::newRow("one") << 1;
    QTest::newRow("beyond the dialog's range") << 100000;
}

void TestSettingsService::notifyMinutesStoredUnbounded()
{
    QFETCH(int, minutes);

    {
        SettingsService settings;
        QSignalSpy spy(&settings, &SettingsService::notifyMinutesChanged);
        settings.setNotifyMinutes(minutes);
        QCOMPARE(settings.notifyMinutes(), minutes);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().count(), 0);
    }
    QCOMPARE(appSettings().value(QStringLiteral("notifyMinutes")).toInt(), minutes);
}

void TestSettingsService::soundFileNormalised_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("stored");

    QTest::newRow("file URL") << "file:///home/ann/sounds/bell.wav"
                              << "/home/ann/sounds/bell.wav";
    QTest::newRow("capital scheme") << "FILE:///home/ann/sounds/bell.wav"
                                    << "/home/ann/sounds/bell.wav";
    QTest::newRow("mixed-case scheme") << "FiLe:///home/ann/sounds/bell.wav"
                                       << "/home/ann/sounds/bell.wav";
    QTest::newRow("percent-encoded space") << "file:///home/ann/my%20sounds/bell%231.wav"
                                           << "/home/ann/my sounds/bell#1.wav";
    QTest::newRow("unencoded space, tolerant") << "file:///home/ann/my sounds/bell.wav"
                                               << "/home/ann/my sounds/bell.wav";
    QTest::newRow("non-ASCII name")
            << "file:///home/ann/s%C3%B6und.ogg" << QString::fromUtf8("/home/ann/s\xC3\xB6und.ogg");
    QTest::newRow("drive-letter URL keeps the path") << "file:///C:/sounds/bell.wav"
                                                     << "/C:/sounds/bell.wav";
    QTest::newRow("plain path unchanged") << "/home/ann/sounds/bell.wav"
                                          << "/home/ann/sounds/bell.wav";
    QTest::newRow("relative path unchanged") << "sounds/bell.wav"
                                             << "sounds/bell.wav";
    QTest::newRow("other scheme unchanged") << "https://example.invalid/bell.wav"
                                            << "https://example.invalid/bell.wav";
    QTest::newRow("qrc unchanged") << "qrc:/sounds/bell.wav"
                                   << "qrc:/sounds/bell.wav";
    QTest::newRow("scheme inside the text unchanged") << "/x/file:///bell.wav"
                                                      << "/x/file:///bell.wav";
    QTest::newRow("invalid file URL unchanged") << "file://[broken/bell.wav"
                                                << "file://[broken/bell.wav";
}

void TestSettingsService::soundFileNormalised()
{
    QFETCH(QString, given);
    QFETCH(QString, stored);

    {
        SettingsService settings;
        QSignalSpy spy(&settings, &SettingsService::soundFileChanged);
        settings.setSoundFile(given);
        QCOMPARE(settings.soundFile(), stored);
        QCOMPARE(spy.count(), 1);
    }
    QCOMPARE(appSettings().value(QStringLiteral("soundFile")).toString(), stored);
}

void TestSettingsService::sameFileChosenTwiceEmitsOnce()
{
    SettingsService settings;
    QSignalSpy spy(&settings, &SettingsService::soundFileChanged);
    settings.setSoundFile(QStringLiteral("file:///home/ann/bell.wav"));
    settings.setSoundFile(QStringLiteral("file:///home/ann/bell.wav"));
    settings.setSoundFile(QStringLiteral("FILE:///home/ann/bell.wav"));
    settings.setSoundFile(QStringLiteral("/home/ann/bell.wav"));
    QCOMPARE(spy.count(), 1);

    // The comparison is exact: another letter case is another path.
    settings.setSoundFile(QStringLiteral("/home/ann/Bell.wav"));
    QCOMPARE(spy.count(), 2);
}

void TestSettingsService::emptySoundFileClears()
{
    {
        SettingsService settings;
        settings.setSoundFile(QStringLiteral("/home/ann/bell.wav"));
        QSignalSpy spy(&settings, &SettingsService::soundFileChanged);
        settings.setSoundFile(QString());
        QCOMPARE(settings.soundFile(), QString());
        QCOMPARE(spy.count(), 1);
    }
    SettingsService next;
    QCOMPARE(next.soundFile(), QString());
}

void TestSettingsService::valuesSurviveIntoSecondInstance()
{
    {
        SettingsService settings;
        settings.setNotifyMinutes(42);
        settings.setSoundFile(QStringLiteral("file:///home/ann/chime.ogg"));
    }
    // On disk, not only in this process's cache.
    const QString text = settingsText();
    QVERIFY2(text.contains(QStringLiteral("notifyMinutes=42")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("soundFile=/home/ann/chime.ogg")), qPrintable(text));

    SettingsService second;
    QCOMPARE(second.notifyMinutes(), 42);
    QCOMPARE(second.soundFile(), QStringLiteral("/home/ann/chime.ogg"));
}

void TestSettingsService::storedValuesLoadUnchecked_data()
{
    QTest::addColumn<QByteArray>("fileText");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<QString>("sound");

    QTest::newRow("not a number loads as 0")
            << QByteArray("[General]\nnotifyMinutes=soon\n") << 0 << "";
    QTest::newRow("empty number loads as 0")
            << QByteArray("[General]\nnotifyMinutes=\n") << 0 << "";
    QTest::newRow("negative kept") << QByteArray("[General]\nnotifyMinutes=-3\n") << -3 << "";
    QTest::newRow("zero kept") << QByteArray("[General]\nnotifyMinutes=0\n") << 0 << "";
    QTest::newRow("sound only, minutes default")
            << QByteArray("[General]\nsoundFile=/a/b.wav\n") << 10 << "/a/b.wav";
    QTest::newRow("stored URL not converted")
            << QByteArray("[General]\nsoundFile=\"file:///a/b.wav\"\n") << 10 << "file:///a/b.wav";
    QTest::newRow("other keys ignored") << QByteArray("[General]\ntaskPageSize=50\n") << 10 << "";
}

void TestSettingsService::storedValuesLoadUnchecked()
{
    QFETCH(QByteArray, fileText);
    QFETCH(int, minutes);
    QFETCH(QString, sound);

    QVERIFY(writeSettingsFileIn(m_config->path(), fileText));
    {
        SettingsService settings;
        QCOMPARE(settings.notifyMinutes(), minutes);
        QCOMPARE(settings.soundFile(), sound);
    }
    // Nothing is written back at start-up.
    QCOMPARE(settingsText().toUtf8(), fileText);
}

void TestSettingsService::qmlPropertiesGoThroughSetters()
{
    SettingsService settings;
    QSignalSpy minutesSpy(&settings, SIGNAL(notifyMinutesChanged()));
    QSignalSpy soundSpy(&settings, SIGNAL(soundFileChanged()));

    QVERIFY(settings.setProperty("notifyMinutes", 30));
    QVERIFY(settings.setProperty("soundFile", QStringLiteral("file:///home/ann/bell.wav")));
    QCOMPARE(settings.property("notifyMinutes").toInt(), 30);
    QCOMPARE(settings.property("soundFile").toString(), QStringLiteral("/home/ann/bell.wav"));
    QCOMPARE(minutesSpy.count(), 1);
    QCOMPARE(soundSpy.count(), 1);

    QVERIFY(QMetaObject::invokeMethod(&settings, "setNotifyMinutes", Q_ARG(int, 31)));
    QVERIFY(QMetaObject::invokeMethod(&settings, "setSoundFile", Q_ARG(QString, QString())));
    QCOMPARE(settings.notifyMinutes(), 31);
    QCOMPARE(settings.soundFile(), QString());
}

QTEST_GUILESS_MAIN(TestSettingsService)
#include "tst_settingsservice.moc"
