#include "platform/audio/FakeAudioDeviceSource.h"
#include "platform/core/Scheduler.h"
#include "sensing/AudioMonitor.h"

#include "LogRecorder.h"

#include <QSignalSpy>
#include <QTest>

using namespace pondra;
using namespace std::chrono_literals;

namespace {

AudioOutputState speakers(float volume = 0.5f, bool muted = false)
{
    AudioOutputState out;
    out.name = QStringLiteral("Speakers");
    out.transportType = QStringLiteral("Built-in");
    out.isRunning = true;
    out.volume = volume;
    out.isMuted = muted;
    return out;
}

struct Values
{
    bool isPlaying;
    QString name;
    QString type;
    float volume;
    bool isMuted;
};

Values valuesOf(const AudioMonitor& m)
{
    return {m.isPlaying.get(), m.outputDeviceName.get(), m.outputDeviceType.get(), m.volume.get(), m.isMuted.get()};
}

} // namespace

class TestAudioMonitor final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstValuesAreRealInsideConstructor()
    {
        auto fake = std::make_shared<FakeAudioDeviceSource>();
        fake->setOutput(speakers());
        VirtualScheduler scheduler;
        AudioMonitor monitor(fake, scheduler);
        const Values v = valuesOf(monitor);
        QCOMPARE(v.isPlaying, true);
        QCOMPARE(v.name, QStringLiteral("Speakers"));
        QCOMPARE(v.type, QStringLiteral("Built-in"));
        QCOMPARE(v.volume, 0.5f);
        QCOMPARE(v.isMuted, false);
    }

    void withoutDeviceValuesKeepWhatTheyHad()
    {
        auto fake = std::make_shared<FakeAudioDeviceSource>();
        VirtualScheduler scheduler;
        AudioMonitor monitor(fake, scheduler);
        Values v = valuesOf(monitor);
        QCOMPARE(v.name, QStringLiteral("Unknown"));
        QCOMPARE(v.type, QStringLiteral("Unknown"));
        QCOMPARE(v.isPlaying, false);
        QCOMPARE(v.volume, 1.0f);
        QCOMPARE(v.isMuted, false);

        fake->setOutput(speakers(0.3f, true));
        scheduler.advance(1s);
        QCOMPARE(monitor.outputDeviceName.get(), QStringLiteral("Speakers"));

        // The device goes away: nothing is assigned, the last values stay.
        fake->setOutput(std::nullopt);
        QSignalSpy changed(&monitor, &AudioMonitor::changed);
        scheduler.advance(5s);
        QCOMPARE(changed.count(), 0);
        v = valuesOf(monitor);
        QCOMPARE(v.name, QStringLiteral("Speakers"));
        QCOMPARE(v.isMuted, true);
        QCOMPARE(v.volume, 0.3f);
    }

    void everyPollAssignsAllFiveValues()
    {
        auto fake = std::make_shared<FakeAudioDeviceSource>();
        fake->setOutput(speakers());
        VirtualScheduler scheduler;
        AudioMonitor monitor(fake, scheduler);
        int playing = 0, muted = 0, names = 0;
        SubscriptionBag bag;
        bag.add(monitor.isPlaying.subscribe(this, [&](bool) { ++playing; }));
        bag.add(monitor.isMuted.subscribe(this, [&](bool) { ++muted; }));
        bag.add(monitor.outputDeviceName.subscribe(this, [&](const QString&) { ++names; }));
        QSignalSpy changed(&monitor, &AudioMonitor::changed);
        scheduler.advance(999ms);
        QCOMPARE(changed.count(), 0);
        scheduler.advance(2001ms); // three polls, nothing changed
        QCOMPARE(changed.count(), 15);
        QCOMPARE(playing, 1 + 3);
        QCOMPARE(muted, 1 + 3);
        QCOMPARE(names, 1 + 3);
    }

    void mutedRule_data()
    {
        QTest::addColumn<float>("volume");
        QTest::addColumn<bool>("muteProperty");
        QTest::addColumn<bool>("isMuted");
        QTest::newRow("0.04 counts as muted") << 0.04f << false << true;
        QTest::newRow("exactly 0.05 is not muted") << 0.05f << false << false;
        QTest::newRow("just below 0.05") << std::nextafter(0.05f, 0.0f) << false << true;
        QTest::newRow("silent") << 0.0f << false << true;
        QTest::newRow("mute at full volume") << 1.0f << true << true;
        QTest::newRow("audible") << 0.6f << false << false;
    }

    void mutedRule()
    {
        QFETCH(float, volume);
        QFETCH(bool, muteProperty);
        QFETCH(bool, isMuted);
        auto fake = std::make_shared<FakeAudioDeviceSource>();
        fake->setOutput(speakers(volume, muteProperty));
        VirtualScheduler scheduler;
        AudioMonitor monitor(fake, scheduler);
        QCOMPARE(monitor.isMuted.get(), isMuted);
        QCOMPARE(monitor.volume.get(), volume);
    }

    void unreadableNameAndTypeReadUnknown()
    {
        auto fake = std::make_shared<FakeAudioDeviceSource>();
        AudioOutputState out = speakers();
        out.name.reset();
        out.transportType.reset();
        fake->setOutput(out);
        VirtualScheduler scheduler;
        AudioMonitor monitor(fake, scheduler);
        QCOMPARE(monitor.outputDeviceName.get(), QStringLiteral("Unknown"));
        QCOMPARE(monitor.outputDeviceType.get(), QStringLiteral("Unknown"));
        QCOMPARE(monitor.isPlaying.get(), true);
    }

    void deviceChangeLogsOnceOnChangeOnly()
    {
        test::LogRecorder log("org.pondra.Pondra.AudioMonitor");
        auto fake = std::make_shared<FakeAudioDeviceSource>();
        fake->setOutput(speakers());
        VirtualScheduler scheduler;
        AudioMonitor monitor(fake, scheduler);
        scheduler.advance(3s);
        QCOMPARE(log.take(), QStringList{QStringLiteral("debug: Device changed - Name: 'Speakers', Type: 'Built-in'")});

        AudioOutputState headset = speakers();
        headset.name = QStringLiteral("Headset");
        headset.transportType = QStringLiteral("Bluetooth");
        fake->setOutput(headset);
        scheduler.advance(3s);
        QCOMPARE(monitor.outputDeviceType.get(), QStringLiteral("Bluetooth"));
        QCOMPARE(log.take(), QStringList{QStringLiteral("debug: Device changed - Name: 'Headset', Type: 'Bluetooth'")});

        // A change of the type alone is a change too; volume and state are not.
        headset.transportType = QStringLiteral("Bluetooth LE");
        headset.volume = 0.2f;
        fake->setOutput(headset);
        scheduler.advance(3s);
        QCOMPARE(log.take(), QStringList{QStringLiteral("debug: Device changed - Name: 'Headset', Type: 'Bluetooth LE'")});
        headset.isRunning = false;
        fake->setOutput(headset);
        scheduler.advance(3s);
        QCOMPARE(log.take(), QStringList{});
    }

    void releasedMonitorLeavesNoTick()
    {
        auto fake = std::make_shared<FakeAudioDeviceSource>();
        fake->setOutput(speakers());
        VirtualScheduler scheduler;
        auto monitor = std::make_unique<AudioMonitor>(fake, scheduler);
        const int reads = fake->readCount();
        monitor.reset();
        scheduler.advance(5s);
        QCOMPARE(fake->readCount(), reads);
        QCOMPARE(scheduler.pendingCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestAudioMonitor)
#include "tst_audiomonitor.moc"
