#include "platform/audio/PulseAudioSource.h"
#include "platform/audio/PulseFacts.h"
#include "platform/core/Scheduler.h"
#include "sensing/AudioMonitor.h"

#include "PulseServer.h"

#include <QTest>

using namespace pondra;
using namespace std::chrono_literals;

namespace {

QString outputName(const AudioSnapshot& s)
{
    return s.output ? s.output->name.value_or(QString()) : QStringLiteral("<none>");
}

PulseSinkFacts sinkFacts(const QString& bus, const QString& api, const QString& module, bool hdmi = false,
                         const QString& profile = {})
{
    PulseSinkFacts sink;
    sink.bus = bus;
    sink.api = api;
    sink.moduleName = module;
    sink.hasHdmiPortActive = hdmi;
    sink.profile = profile;
    return sink;
}

} // namespace

class TestPulseSource final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void transportTable_data()
    {
        QTest::addColumn<PulseSinkFacts>("sink");
        QTest::addColumn<QString>("type");
        QTest::newRow("active HDMI port wins over the bus") << sinkFacts("pci", {}, {}, true) << "HDMI";
        QTest::newRow("bluetooth bus") << sinkFacts("bluetooth", "bluez5", {}) << "Bluetooth";
        QTest::newRow("LE audio profile") << sinkFacts("bluetooth", "bluez5", {}, false, "bap-sink") << "Bluetooth LE";
        QTest::newRow("usb") << sinkFacts("usb", "alsa", {}) << "USB";
        QTest::newRow("pci") << sinkFacts("pci", "alsa", {}) << "Built-in";
        QTest::newRow("platform") << sinkFacts("platform", "alsa", {}) << "Built-in";
        QTest::newRow("firewire") << sinkFacts("firewire", {}, {}) << "FireWire";
        QTest::newRow("bluez api without bus") << sinkFacts({}, "bluez", {}) << "Bluetooth";
        QTest::newRow("bluez5 api, LE profile") << sinkFacts({}, "bluez5", {}, false, "bap-duplex") << "Bluetooth LE";
        QTest::newRow("null sink") << sinkFacts({}, {}, "module-null-sink") << "Virtual";
        QTest::newRow("null sink with a bus takes the bus") << sinkFacts("usb", {}, "module-null-sink") << "USB";
        QTest::newRow("combined sink") << sinkFacts({}, {}, "module-combine-sink") << "Aggregate";
        QTest::newRow("network sink") << sinkFacts({}, {}, "module-raop-sink") << "AirPlay";
        QTest::newRow("unknown bus") << sinkFacts("isa", {}, "module-alsa-card") << "Other";
        QTest::newRow("nothing known") << sinkFacts({}, {}, {}) << "Other";
    }

    void transportTable()
    {
        QFETCH(PulseSinkFacts, sink);
        QFETCH(QString, type);
        QCOMPARE(transportTypeFor(sink), type);
    }

    void sameDeviceRule_data()
    {
        QTest::addColumn<QString>("sinkBus");
        QTest::addColumn<uint>("sourceCard");
        QTest::addColumn<uint>("monitorOf");
        QTest::addColumn<bool>("same");
        QTest::newRow("monitor of the default sink") << "pci" << noPulseIndex << 7u << true;
        QTest::newRow("monitor of another sink") << "pci" << noPulseIndex << 8u << false;
        QTest::newRow("USB headset's own microphone") << "usb" << 3u << noPulseIndex << true;
        QTest::newRow("Bluetooth headset's microphone") << "bluetooth" << 3u << noPulseIndex << true;
        QTest::newRow("built-in microphone beside its speakers") << "pci" << 3u << noPulseIndex << false;
        QTest::newRow("microphone on another card") << "usb" << 4u << noPulseIndex << false;
        QTest::newRow("no card at all") << "usb" << noPulseIndex << noPulseIndex << false;
    }

    void sameDeviceRule()
    {
        QFETCH(QString, sinkBus);
        QFETCH(uint, sourceCard);
        QFETCH(uint, monitorOf);
        QFETCH(bool, same);
        PulseServerFacts facts;
        facts.defaultSinkName = QStringLiteral("out");
        facts.defaultSourceName = QStringLiteral("in");
        PulseSinkFacts sink = sinkFacts(sinkBus, {}, {});
        sink.name = QStringLiteral("out");
        sink.index = 7;
        sink.card = 3;
        facts.sinks.push_back(sink);
        PulseSourceFacts source;
        source.name = QStringLiteral("in");
        source.card = sourceCard;
        source.monitorOfSink = monitorOf;
        source.isRunning = true;
        facts.sources.push_back(source);
        const AudioSnapshot snapshot = buildAudioSnapshot(facts);
        QVERIFY(snapshot.input);
        QCOMPARE(snapshot.input->isSameDeviceAsOutput, same);
        QCOMPARE(snapshot.input->isRunning, true);

        facts.defaultSinkName = QStringLiteral("gone");
        QCOMPARE(buildAudioSnapshot(facts).input->isSameDeviceAsOutput, false);
    }

    void noServerMeansNoDevices()
    {
        QTemporaryDir dir;
        PulseAudioSource source("unix:" + QFile::encodeName(dir.path()) + "/nothing-here");
        QVERIFY(!source.isConnected());
        QCOMPARE(source.snapshot(), AudioSnapshot{});
    }

    void followsTheRealServer()
    {
        test::PulseServer server;
        QVERIFY(server.start({test::PulseServer::nullSink("hifi", "Digital Hifi Audio", "usb"),
                              test::PulseServer::nullSink("headset", "Headset", "bluetooth"),
                              test::PulseServer::nullSink("virtual", "Loopback Out"),
                              QStringLiteral("set-default-sink hifi")}));
        auto source = std::make_shared<PulseAudioSource>(server.address());
        VirtualScheduler scheduler;
        // The first values are real inside the constructor.
        AudioMonitor monitor(source, scheduler);
        QCOMPARE(monitor.outputDeviceName.get(), QStringLiteral("Digital Hifi Audio"));
        QCOMPARE(monitor.outputDeviceType.get(), QStringLiteral("USB"));
        QCOMPARE(monitor.isPlaying.get(), false);
        QCOMPARE(monitor.volume.get(), 1.0f);
        QCOMPARE(monitor.isMuted.get(), false);

        // A stream makes the device run.
        {
            auto player = server.play();
            QVERIFY(player);
            QTRY_VERIFY_WITH_TIMEOUT(source->snapshot().output->isRunning, 10'000);
            scheduler.advance(1s);
            QCOMPARE(monitor.isPlaying.get(), true);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!source->snapshot().output->isRunning, 10'000);

        // Volume on both sides of the muted threshold (raw steps of 1/65536), then the mute switch.
        QVERIFY(server.pactl({"set-sink-volume", "hifi", "3276"}));
        QTRY_VERIFY_WITH_TIMEOUT(source->snapshot().output->volume < 0.05f, 10'000);
        scheduler.advance(1s);
        QVERIFY(monitor.isMuted.get());
        QVERIFY(server.pactl({"set-sink-volume", "hifi", "3277"}));
        QTRY_VERIFY_WITH_TIMEOUT(source->snapshot().output->volume >= 0.05f, 10'000);
        scheduler.advance(1s);
        QVERIFY(!monitor.isMuted.get());
        QVERIFY(qAbs(monitor.volume.get() - 0.05f) < 0.001f);
        QVERIFY(server.pactl({"set-sink-volume", "hifi", "100%", "40%"}));
        QTRY_VERIFY_WITH_TIMEOUT(source->snapshot().output->volume == 1.0f, 10'000);
        QVERIFY(server.pactl({"set-sink-volume", "hifi", "150%"}));
        QTRY_VERIFY_WITH_TIMEOUT(source->snapshot().output->volume == 1.0f, 10'000); // capped
        QVERIFY(server.pactl({"set-sink-mute", "hifi", "1"}));
        QTRY_VERIFY_WITH_TIMEOUT(source->snapshot().output->isMuted, 10'000);
        scheduler.advance(1s);
        QVERIFY(monitor.isMuted.get());

        // Switching the default.
        QVERIFY(server.pactl({"set-default-sink", "headset"}));
        QTRY_COMPARE_WITH_TIMEOUT(outputName(source->snapshot()), QStringLiteral("Headset"), 10'000);
        scheduler.advance(1s);
        QCOMPARE(monitor.outputDeviceType.get(), QStringLiteral("Bluetooth"));
        QVERIFY(server.pactl({"set-default-sink", "virtual"}));
        QTRY_COMPARE_WITH_TIMEOUT(outputName(source->snapshot()), QStringLiteral("Loopback Out"), 10'000);
        QCOMPARE(source->snapshot().output->transportType, QStringLiteral("Virtual"));

        // Unloading every sink leaves no default device: the values stay.
        QVERIFY(server.pactl({"unload-module", "module-null-sink"}));
        QTRY_VERIFY_WITH_TIMEOUT(!source->snapshot().output, 10'000);
        scheduler.advance(1s);
        QCOMPARE(monitor.outputDeviceName.get(), QStringLiteral("Headset"));

        // The server dies and comes back: a new connection picks it up.
        server.kill();
        QTRY_VERIFY_WITH_TIMEOUT(!source->isConnected(), 10'000);
        QCOMPARE(source->snapshot(), AudioSnapshot{});
        QVERIFY(server.restart());
        QTRY_VERIFY_WITH_TIMEOUT(source->isConnected(), 10'000);
        QTRY_COMPARE_WITH_TIMEOUT(outputName(source->snapshot()), QStringLiteral("Digital Hifi Audio"), 10'000);
        scheduler.advance(1s);
        QCOMPARE(monitor.outputDeviceName.get(), QStringLiteral("Digital Hifi Audio"));
        QCOMPARE(monitor.outputDeviceType.get(), QStringLiteral("USB"));
    }

    void runningMicrophone()
    {
        test::PulseServer server;
        QVERIFY(server.start({test::PulseServer::nullSink("speakers", "Speakers", "pci"),
                              QStringLiteral("load-module module-sine-source source_name=mic"),
                              QStringLiteral("set-default-sink speakers"), QStringLiteral("set-default-source mic")}));
        PulseAudioSource source(server.address());
        QVERIFY(source.snapshot().input);
        QCOMPARE(source.snapshot().input->isRunning, false);
        QCOMPARE(source.snapshot().input->isSameDeviceAsOutput, false);
        {
            auto recorder = server.record();
            QVERIFY(recorder);
            QTRY_VERIFY_WITH_TIMEOUT(source.snapshot().input->isRunning, 10'000);
            QCOMPARE(source.snapshot().input->isSameDeviceAsOutput, false);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!source.snapshot().input->isRunning, 10'000);

        // Recording the output's own monitor is the same device.
        QVERIFY(server.pactl({"set-default-source", "speakers.monitor"}));
        auto recorder = server.record();
        QVERIFY(recorder);
        QTRY_VERIFY_WITH_TIMEOUT(source.snapshot().input && source.snapshot().input->isRunning, 10'000);
        QCOMPARE(source.snapshot().input->isSameDeviceAsOutput, true);
    }
};

QTEST_GUILESS_MAIN(TestPulseSource)
#include "tst_pulsesource.moc"
