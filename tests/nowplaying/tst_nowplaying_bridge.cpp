// The now-playing helper end to end: the real Perl, the real script and the
// real libMelodex, on a private session bus with a real MPRIS player (mpv
// with mpv-mpris) or scripted fake players.

#include "TestProcesses.h"
#include "sensing/NowPlayingMonitor.h"

#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using pondra::test::ManagedProcess;
using pondra::test::PrivateBus;

namespace {

const QByteArray defaultsLine = "{\"playing\":false,\"title\":\"\",\"artist\":\"\",\"album\":\"\"}" "\n";

struct HelperRun
{
    QByteArray output;
    qint64 elapsedMs = 0;
};

QString resourceScript()
{
    return qEnvironmentVariable("PONDRA_BINARY_DIR") + QStringLiteral("/resources/get-now-playing.pl");
}

HelperRun runHelper(const QProcessEnvironment& env, const QString& script = resourceScript())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("/usr/bin/perl"), {script});
    if (!process.waitForFinished(15'000))
        qWarning("helper did not finish");
    return {process.readAllStandardOutput(), timer.elapsed()};
}

QProcessEnvironment busEnvironment(const PrivateBus& bus)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), bus.address());
    return env;
}

QJsonObject decodeLine(const QByteArray& line)
{
    if (!line.endsWith('\n') || line.count('\n') != 1)
        return {};
    return QJsonDocument::fromJson(line).object();
}

// One value for a fake player, with its D-Bus type (see fake_mpris_player.py).
QJsonArray typed(const char* kind, const QJsonValue& value)
{
    return {QString::fromLatin1(kind), value};
}

QJsonObject fakePlayer(const char* name, const QJsonArray& status, const std::optional<QJsonObject>& metadata,
                       const QJsonObject& delays = {})
{
    QJsonObject properties{{QStringLiteral("PlaybackStatus"), status}};
    if (metadata)
        properties[QStringLiteral("Metadata")] = *metadata;
    return {{QStringLiteral("name"), QStringLiteral("org.mpris.MediaPlayer2.") + QString::fromLatin1(name)},
            {QStringLiteral("properties"), properties},
            {QStringLiteral("delays"), delays}};
}

QByteArray players(std::initializer_list<QJsonObject> list)
{
    QJsonArray array;
    for (const QJsonObject& player : list)
        array.append(player);
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

} // namespace

class TestNowPlayingBridge final : public QObject
{
    Q_OBJECT

private:
    // Starts the fake players of `config` on `bus` (see fake_mpris_player.py).
    bool startFake(ManagedProcess& fake, const PrivateBus& bus, const QByteArray& config)
    {
        const QString path = m_dir.filePath(QStringLiteral("players-%1.json").arg(++m_configs));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(config) != config.size())
            return false;
        file.close();
        const QString script = qEnvironmentVariable("PONDRA_SOURCE_DIR") + QStringLiteral("/tests/nowplaying/fake_mpris_player.py");
        return fake.start(QStringLiteral("/usr/bin/python3"), {script, path}, busEnvironment(bus))
            && fake.readLine() == QStringLiteral("ready");
    }

    QTemporaryDir m_dir;
    int m_configs = 0;

private Q_SLOTS:
    void noBus_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("runtimeDir");
        QTest::newRow("no address, no runtime folder") << QString() << QString();
        QTest::newRow("runtime folder without a bus") << QString() << m_dir.path();
        QTest::newRow("address of nothing") << QStringLiteral("unix:path=%1/none").arg(m_dir.path()) << QString();
    }
    // Never a bus of its own: without one the answer holds the defaults.
    void noBus()
    {
        QFETCH(QString, address);
        QFETCH(QString, runtimeDir);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        if (!address.isEmpty())
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        if (!runtimeDir.isEmpty())
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        QCOMPARE(runHelper(env).output, defaultsLine);
    }

    // A bus that takes the connection and never says a word costs one wait.
    void silentBus()
    {
        QLocalServer server;
        QVERIFY(server.listen(m_dir.filePath(QStringLiteral("silent"))));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + server.fullServerName());
        const HelperRun run = runHelper(env);
        QCOMPARE(run.output, defaultsLine);
        QVERIFY2(run.elapsedMs < 3000, QByteArray::number(run.elapsedMs).constData());
    }

    void noPlayer()
    {
        PrivateBus bus;
        QVERIFY(bus.start());
        QCOMPARE(runHelper(busEnvironment(bus)).output, defaultsLine);
    }

    // mpv playing a tagged file: playing, then paused, then gone.
    void realPlayer()
    {
        QVERIFY2(QFile::exists(QStringLiteral("/usr/lib/mpv-mpris/mpris.so")), "mpv-mpris is not installed");
        const QString track = m_dir.filePath(QStringLiteral("track.ogg"));
        QCOMPARE(QProcess::execute(QStringLiteral("sox"),
                                   {QStringLiteral("-n"), QStringLiteral("--comment"), QStringLiteral("TITLE=Song / Één"),
                                    QStringLiteral("--add-comment"), QStringLiteral("ARTIST=Band"),
                                    QStringLiteral("--add-comment"), QStringLiteral("ALBUM=Record"), QStringLiteral("-r"),
                                    QStringLiteral("8000"), QStringLiteral("-c"), QStringLiteral("1"), track,
                                    QStringLiteral("synth"), QStringLiteral("60"), QStringLiteral("sine"),
                                    QStringLiteral("440")}),
                 0);
        PrivateBus bus;
        QVERIFY(bus.start());
        QProcessEnvironment env = busEnvironment(bus);
        env.insert(QStringLiteral("HOME"), m_dir.path());
        ManagedProcess mpv;
        QVERIFY(mpv.start(QStringLiteral("mpv"),
                          {QStringLiteral("--no-config"), QStringLiteral("--script=/usr/lib/mpv-mpris/mpris.so"),
                           QStringLiteral("--ao=null"), QStringLiteral("--vo=null"), QStringLiteral("--no-video"),
                           QStringLiteral("--loop-file=inf"), QStringLiteral("--really-quiet"), track},
                          env));
        QVERIFY(bus.waitForService(QStringLiteral("org.mpris.MediaPlayer2.mpv")));

        const QByteArray playing = "{\"playing\":true,\"title\":\"Song \\/ Één\",\"artist\":\"Band\",\"album\":\"Record\"}" "\n";
        QByteArray line;
        QVERIFY2(QTest::qWaitFor([&] { return (line = runHelper(env).output) == playing; }, 10'000), line.constData());

        QDBusMessage pause = QDBusMessage::createMethodCall(QStringLiteral("org.mpris.MediaPlayer2.mpv"),
                                                            QStringLiteral("/org/mpris/MediaPlayer2"),
                                                            QStringLiteral("org.mpris.MediaPlayer2.Player"),
                                                            QStringLiteral("Pause"));
        QCOMPARE(bus.connection().call(pause).type(), QDBusMessage::ReplyMessage);
        const QByteArray paused = "{\"playing\":false,\"title\":\"Song \\/ Één\",\"artist\":\"Band\",\"album\":\"Record\"}" "\n";
        QVERIFY2(QTest::qWaitFor([&] { return (line = runHelper(env).output) == paused; }, 10'000), line.constData());

        mpv.stop();
        QVERIFY2(QTest::qWaitFor([&] { return (line = runHelper(env).output) == defaultsLine; }, 10'000),
                 line.constData());
    }

    void fakePlayers_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("album");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");

        const QString band = QStringLiteral("Band");
        const QString record = QStringLiteral("Record");
        const auto track = [](const char* title) {
            return QJsonObject{{QStringLiteral("xesam:title"), typed("s", QString::fromUtf8(title))},
                               {QStringLiteral("xesam:artist"), typed("as", QJsonArray{QStringLiteral("Band")})},
                               {QStringLiteral("xesam:album"), typed("s", QStringLiteral("Record"))}};
        };
        const auto player = [&](const char* name, const char* status, const char* title, QJsonObject delays = {}) {
            return fakePlayer(name, typed("s", QString::fromLatin1(status)), track(title), delays);
        };
        const auto delays = [](double status, double metadata = 0) {
            return QJsonObject{{QStringLiteral("PlaybackStatus"), status}, {QStringLiteral("Metadata"), metadata}};
        };

        QTest::newRow("the playing one of several")
            << players({player("b", "Paused", "B"), player("a", "Stopped", "A"), player("c", "Playing", "C")}) << true
            << QStringLiteral("C") << band << record << 0 << 1500;
        QTest::newRow("paused before stopped")
            << players({player("a", "Stopped", "A"), player("b", "Paused", "B")}) << false << QStringLiteral("B")
            << band << record << 0 << 1500;
        QTest::newRow("else the first by name")
            << players({player("z", "Stopped", "Z"), player("m", "Stopped", "M")}) << false << QStringLiteral("M")
            << band << record << 0 << 1500;
        QJsonObject notAPlayer = player("y", "Playing", "Y");
        notAPlayer[QStringLiteral("name")] = QStringLiteral("org.example.Player");
        QTest::newRow("only MPRIS names count")
            << players({player("x", "Stopped", "X"), notAPlayer}) << false << QStringLiteral("X") << band << record
            << 0 << 1500;
        QTest::newRow("late status is ignored, the track is still awaited")
            << players({player("a", "Playing", "A", delays(3, 1.5))}) << false << QStringLiteral("A") << band << record
            << 3300 << 4500;
        QTest::newRow("late track") << players({player("a", "Playing", "A", delays(0, 3))}) << true << QString()
                                    << QString() << QString() << 1900 << 3000;
        QTest::newRow("a hanging player does not hide a playing one")
            << players({player("a", "Playing", "A", delays(10)), player("b", "Playing", "B")}) << true
            << QStringLiteral("B") << band << record << 1900 << 3000;
        QTest::newRow("nothing ever answers")
            << players({player("a", "Playing", "A", delays(10, 10)), player("b", "Playing", "B", delays(10))})
            << false << QString() << QString() << QString() << 3900 << 5000;
        const QJsonObject otherTypes{{QStringLiteral("xesam:title"), typed("o", QStringLiteral("/t"))},
                                     {QStringLiteral("xesam:artist"), typed("ai", QJsonArray{1, 2})},
                                     {QStringLiteral("xesam:album"), typed("as", QJsonArray{QStringLiteral("x")})}};
        QTest::newRow("values of other types") << players({fakePlayer("a", typed("i", 1), otherTypes)}) << false
                                               << QString() << QString() << QString() << 0 << 1500;
        const QJsonObject artists{{QStringLiteral("xesam:title"), typed("s", QStringLiteral("T"))},
                                  {QStringLiteral("xesam:artist"),
                                   typed("as", QJsonArray{QStringLiteral("X"), QStringLiteral("Y"), QStringLiteral("Z")})}};
        const QJsonObject soloArtist{{QStringLiteral("xesam:artist"), typed("s", QStringLiteral("Solo"))}};
        QTest::newRow("artists joined")
            << players({fakePlayer("a", typed("s", QStringLiteral("Playing")), artists)}) << true << QStringLiteral("T")
            << QStringLiteral("X, Y, Z") << QString() << 0 << 1500;
        QTest::newRow("one artist as plain text")
            << players({fakePlayer("a", typed("s", QStringLiteral("Paused")), soloArtist)}) << false << QString()
            << QStringLiteral("Solo") << QString() << 0 << 1500;
        QTest::newRow("no metadata at all")
            << players({fakePlayer("a", typed("s", QStringLiteral("Playing")), std::nullopt)}) << true << QString()
            << QString() << QString() << 0 << 1500;
    }
    void fakePlayers()
    {
        QFETCH(QByteArray, config);
        QFETCH(bool, playing);
        QFETCH(QString, title);
        QFETCH(QString, artist);
        QFETCH(QString, album);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);

        PrivateBus bus;
        QVERIFY(bus.start());
        ManagedProcess fake;
        QVERIFY(startFake(fake, bus, config));
        const HelperRun run = runHelper(busEnvironment(bus));
        const QJsonObject line = decodeLine(run.output);
        QVERIFY2(line.size() == 4, run.output.constData());
        QCOMPARE(line.value(QLatin1String("playing")), QJsonValue(playing));
        QCOMPARE(line.value(QLatin1String("title")).toString(), title);
        QCOMPARE(line.value(QLatin1String("artist")).toString(), artist);
        QCOMPARE(line.value(QLatin1String("album")).toString(), album);
        QVERIFY2(run.elapsedMs >= minMs && run.elapsedMs <= maxMs, QByteArray::number(run.elapsedMs).constData());
    }

    void texts_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QByteArray>("raw");

        QTest::newRow("quotes, backslashes, controls")
            << QStringLiteral("a\"b\\c\td\ne\x01" "f") << QStringLiteral("a\"b\\c\td\ne\x01" "f")
            << QByteArray("\"title\":\"a\\\"b\\\\c\\td\\ne\\u0001f\"");
        QTest::newRow("slash and letters") << QStringLiteral("AC/DC – Ünïcødé 🎵") << QStringLiteral("AC/DC – Ünïcødé 🎵")
                                           << QByteArray("\"title\":\"AC\\/DC – Ünïcødé 🎵\"");
        QTest::newRow("long text cut to 4 KiB") << QString(5000, QLatin1Char('x')) << QString(4096, QLatin1Char('x'))
                                                << QByteArray();
        QTest::newRow("cut between characters") << QString(3000, QChar(0x00E9)) << QString(2048, QChar(0x00E9))
                                                << QByteArray();
        QTest::newRow("cut counts the escapes") << QString(3000, QLatin1Char('/')) << QString(2048, QLatin1Char('/'))
                                                << QByteArray();
        QTest::newRow("cut never splits an escape")
            << QString(4095, QLatin1Char('x')) + QStringLiteral("\"") << QString(4095, QLatin1Char('x')) << QByteArray();
    }
    // Whatever the texts hold, the line is one valid JSON line.
    void texts()
    {
        QFETCH(QString, title);
        QFETCH(QString, written);
        QFETCH(QByteArray, raw);

        const QByteArray config = players({fakePlayer(
            "a", typed("s", QStringLiteral("Playing")), QJsonObject{{QStringLiteral("xesam:title"), typed("s", title)}})});
        PrivateBus bus;
        QVERIFY(bus.start());
        ManagedProcess fake;
        QVERIFY(startFake(fake, bus, config));
        const QByteArray output = runHelper(busEnvironment(bus)).output;
        const QJsonObject line = decodeLine(output);
        QVERIFY2(!line.isEmpty(), output.constData());
        QCOMPARE(line.value(QLatin1String("title")).toString(), written);
        if (!raw.isEmpty())
            QVERIFY2(output.contains(raw), output.constData());
    }

    // The monitor as the program builds it: the real interpreter and the
    // script it finds beside the program in the build tree.
    void monitorWithTheRealHelper()
    {
        const auto script = pondra::defaultNowPlayingScriptPath();
        QCOMPARE(script.value_or(QString()), QFileInfo(resourceScript()).absoluteFilePath());
        PrivateBus bus;
        QVERIFY(bus.start());
        ManagedProcess fake;
        QVERIFY(startFake(fake, bus,
                          players({fakePlayer("a", typed("s", QStringLiteral("Playing")),
                                              QJsonObject{{QStringLiteral("xesam:title"), typed("s", QStringLiteral("Song"))},
                                                          {QStringLiteral("xesam:artist"),
                                                           typed("as", QJsonArray{QStringLiteral("Band")})}})})));
        const QByteArray previous = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
        pondra::VirtualScheduler scheduler;
        pondra::NowPlayingMonitor monitor(scheduler);
        qputenv("DBUS_SESSION_BUS_ADDRESS", previous);
        QVERIFY(QTest::qWaitFor([&] { return !monitor.isHelperRunning(); }, 10'000));
        QCOMPARE(monitor.nowPlayingText(), QStringLiteral("Band - Song"));
        QCOMPARE(monitor.isPlaying.get(), true);
    }

    void brokenLibdbus_data()
    {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("libdbus missing") << QStringLiteral(MELODEX_NO_DBUS)
                                         << QByteArray("{\"error\":\"Failed to load MediaRemote.framework\"}" "\n");
        QTest::newRow("a function missing") << QStringLiteral(MELODEX_PARTIAL_DBUS)
                                            << QByteArray("{\"error\":\"Failed to get MediaRemote functions\"}" "\n");
    }
    // A copy of the library that opens a libdbus that is not there or lacks
    // functions, beside its own copy of the script in another folder.
    void brokenLibdbus()
    {
        QFETCH(QString, library);
        QFETCH(QByteArray, line);
        QTemporaryDir folder;
        QVERIFY(QFile::copy(library, folder.filePath(QStringLiteral("libMelodex.so"))));
        QVERIFY(QFile::copy(resourceScript(), folder.filePath(QStringLiteral("get-now-playing.pl"))));
        QCOMPARE(runHelper(QProcessEnvironment::systemEnvironment(), folder.filePath(QStringLiteral("get-now-playing.pl")))
                     .output,
                 line);
    }
};

QTEST_GUILESS_MAIN(TestNowPlayingBridge)
#include "tst_nowplaying_bridge.moc"
