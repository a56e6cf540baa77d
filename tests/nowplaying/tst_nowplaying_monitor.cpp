// NowPlayingMonitor against stub helpers: /bin/sh runs small scripts that
// print whatever line the test puts in a file, so each poll's output is known.

#include "sensing/NowPlayingMonitor.h"

#include "LogRecorder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using pondra::NowPlayingInfo;
using pondra::NowPlayingMonitor;
using pondra::VirtualScheduler;
using pondra::test::LogRecorder;

namespace {

constexpr char category[] = "org.pondra.Pondra.NowPlayingMonitor";
const QByteArray songByBand = "{\"playing\":true,\"title\":\"Song\",\"artist\":\"Band\",\"album\":\"Record\"}"
                              "\n";

// Counts the assignments a published value gets after subscribing.
template <typename T> struct Assignments
{
    explicit Assignments(const pondra::ReadOnly<T>& value)
        : subscription(value.subscribe(nullptr, [this](const T& v) {
              ++count;
              last = v;
          }))
    {
        count = 0;
    }
    int count = 0;
    T last{};
    pondra::Subscription subscription;
};

} // namespace

class TestNowPlayingMonitor final : public QObject
{
    Q_OBJECT

private:
    QString writeStub(const QByteArray& body)
    {
        const QString path = m_dir->filePath(QStringLiteral("stub-%1.sh").arg(++m_stubs));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write stub");
        file.write("echo run >> \"" + m_dir->filePath(QStringLiteral("runs")).toUtf8() + "\"\n" + body);
        return path;
    }
    // A stub that prints the file "line" as it is at the time of the poll.
    QString lineStub() { return writeStub("cat \"" + linePath().toUtf8() + "\"\n"); }
    QString linePath() const { return m_dir->filePath(QStringLiteral("line")); }
    void setLine(const QByteArray& line)
    {
        QFile file(linePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(line);
    }
    int runs() const
    {
        QFile file(m_dir->filePath(QStringLiteral("runs")));
        return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : 0;
    }
    static bool waitIdle(const NowPlayingMonitor& monitor)
    {
        return QTest::qWaitFor([&] { return !monitor.isHelperRunning(); }, 10'000);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    int m_stubs = 0;

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<QString>("error");

        QTest::newRow("answer line with line feed") << songByBand << true << QString();
        QTest::newRow("white space around")
            << QByteArray(" \t\n" + songByBand + "\r\n ") << true << QString();
        QTest::newRow("other members ignored")
            << QByteArray("{\"playing\":false,\"title\":\"\",\"artist\":\"\",\"album\":\"\",\"app\":7}")
            << true << QString();
        QTest::newRow("error null")
            << QByteArray(
                   "{\"playing\":true,\"title\":\"a\",\"artist\":\"b\",\"album\":\"c\",\"error\":null}")
            << true << QString();
        QTest::newRow("error text with the members")
            << QByteArray(
                   "{\"playing\":true,\"title\":\"a\",\"artist\":\"b\",\"album\":\"c\",\"error\":\"boom\"}")
            << true << QStringLiteral("boom");
        QTest::newRow("error line alone") << QByteArray("{\"error\":\"Failed to get MediaRemote functions\"}"
                                                        "\n")
                                          << false << QString();
        QTest::newRow("error of another type")
            << QByteArray("{\"playing\":true,\"title\":\"a\",\"artist\":\"b\",\"album\":\"c\",\"error\":1}")
            << false << QString();
        QTest::newRow("playing as text")
            << QByteArray("{\"playing\":\"true\",\"title\":\"a\",\"artist\":\"b\",\"album\":\"c\"}") << false
            << QString();
        QTest::newRow("playing as number")
            << QByteArray("{\"playing\":1,\"title\":\"a\",\"artist\":\"b\",\"album\":\"c\"}") << false
            << QString();
        QTest::newRow("title null")
            << QByteArray("{\"playing\":true,\"title\":null,\"artist\":\"b\",\"album\":\"c\"}") << false
            << QString();
        QTest::newRow("artist number")
            << QByteArray("{\"playing\":true,\"title\":\"a\",\"artist\":2,\"album\":\"c\"}") << false
            << QString();
        QTest::newRow("album missing")
            << QByteArray("{\"playing\":true,\"title\":\"a\",\"artist\":\"b\"}") << false << QString();
        QTest::newRow("two lines") << QByteArray(songByBand + songByBand) << false << QString();
        QTest::newRow("array") << QByteArray("[" + songByBand + "]") << false << QString();
        QTest::newRow("garbage") << QByteArray("Can't locate DynaLoader.pm\n") << false << QString();
        QTest::newRow("nothing") << QByteArray() << false << QString();
    }
    void decode()
    {
        QFETCH(QByteArray, output);
        QFETCH(bool, decodes);
        QFETCH(QString, error);
        const auto info = NowPlayingInfo::decode(output);
        QCOMPARE(info.has_value(), decodes);
        if (info)
            QCOMPARE(info->error.value_or(QString()), error);
    }

    // The first reading is published at construction, without waiting for a tick.
    void firstReadingAtOnce()
    {
        setLine(songByBand);
        VirtualScheduler scheduler;
        LogRecorder logs(category);
        const QString stub = lineStub();
        NowPlayingMonitor monitor(scheduler, QStringLiteral("/bin/sh"), stub);
        QVERIFY(waitIdle(monitor));
        QCOMPARE(monitor.currentTrack.get(), QStringLiteral("Song"));
        QCOMPARE(monitor.currentArtist.get(), QStringLiteral("Band"));
        QCOMPARE(monitor.isPlaying.get(), true);
        QCOMPARE(monitor.nowPlayingText(), QStringLiteral("Band - Song"));
        QCOMPARE(logs.take(), QStringList({QStringLiteral("info: MediaRemote helper found at: ") + stub,
                                           QStringLiteral("info: Now Playing: Band - Song")}));
        QCOMPARE(runs(), 1);
    }

    // After "Song by Band, playing", one more poll prints `line`.
    void nextReading_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("published");
        QTest::addColumn<QString>("track");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("logs");

        const QString song = QStringLiteral("Song");
        const QString band = QStringLiteral("Band");
        const QString bandSong = QStringLiteral("Band - Song");
        QTest::newRow("same line again")
            << songByBand << false << song << band << true << bandSong << QStringList();
        QTest::newRow("only the album changes")
            << QByteArray("{\"playing\":true,\"title\":\"Song\",\"artist\":\"Band\",\"album\":\"Other\"}")
            << false << song << band << true << bandSong << QStringList();
        QTest::newRow("paused")
            << QByteArray("{\"playing\":false,\"title\":\"Song\",\"artist\":\"Band\",\"album\":\"Record\"}")
            << true << QString() << QString() << false << QString() << QStringList();
        QTest::newRow("another track")
            << QByteArray("{\"playing\":true,\"title\":\"Tune\",\"artist\":\"Choir\",\"album\":\"\"}") << true
            << QStringLiteral("Tune") << QStringLiteral("Choir") << true << QStringLiteral("Choir - Tune")
            << QStringList({QStringLiteral("info: Now Playing: Choir - Tune")});
        QTest::newRow("no artist")
            << QByteArray("{\"playing\":true,\"title\":\"Song\",\"artist\":\"\",\"album\":\"\"}") << true
            << song << QString() << true << song
            << QStringList({QStringLiteral("info: Now Playing:  - Song")});
        QTest::newRow("no title")
            << QByteArray("{\"playing\":true,\"title\":\"\",\"artist\":\"Band\",\"album\":\"\"}") << true
            << QString() << band << true << QString() << QStringList();
        QTest::newRow("error line") << QByteArray("{\"error\":\"Failed to load MediaRemote.framework\"}"
                                                  "\n")
                                    << false << song << band << true << bandSong << QStringList();
        QTest::newRow("decoded error")
            << QByteArray(
                   "{\"playing\":false,\"title\":\"\",\"artist\":\"\",\"album\":\"\",\"error\":\"x/y\"}")
            << false << song << band << true << bandSong
            << QStringList({QStringLiteral("error: Helper error: x/y")});
        QTest::newRow("garbage") << QByteArray("\x01\x02 not json") << false << song << band << true
                                 << bandSong << QStringList();
        QTest::newRow("no output") << QByteArray() << false << song << band << true << bandSong
                                   << QStringList();
    }
    void nextReading()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, published);
        QFETCH(QString, track);
        QFETCH(QString, artist);
        QFETCH(bool, playing);
        QFETCH(QString, text);
        QFETCH(QStringList, logs);

        setLine(songByBand);
        VirtualScheduler scheduler;
        NowPlayingMonitor monitor(scheduler, QStringLiteral("/bin/sh"), lineStub());
        QVERIFY(waitIdle(monitor));
        QCOMPARE(monitor.nowPlayingText(), QStringLiteral("Band - Song"));

        Assignments<QString> tracks(monitor.currentTrack);
        Assignments<QString> artists(monitor.currentArtist);
        Assignments<bool> flags(monitor.isPlaying);
        // The values are assigned in this order, each once.
        QStringList order;
        pondra::SubscriptionBag bag;
        bag.add(
            monitor.currentTrack.subscribe(this, [&](const QString&) { order << QStringLiteral("track"); }));
        bag.add(monitor.currentArtist.subscribe(this,
                                                [&](const QString&) { order << QStringLiteral("artist"); }));
        bag.add(monitor.isPlaying.subscribe(this, [&](bool) { order << QStringLiteral("playing"); }));
        order.clear();

        setLine(line);
        LogRecorder capture(category);
        scheduler.advance(NowPlayingMonitor::pollInterval);
        QVERIFY(monitor.isHelperRunning());
        QVERIFY(waitIdle(monitor));
        QCOMPARE(runs(), 2);

        const int expected = published ? 1 : 0;
        QCOMPARE(tracks.count, expected);
        QCOMPARE(artists.count, expected);
        QCOMPARE(flags.count, expected);
        if (published)
            QCOMPARE(order, QStringList({QStringLiteral("track"), QStringLiteral("artist"),
                                         QStringLiteral("playing")}));
        QCOMPARE(monitor.currentTrack.get(), track);
        QCOMPARE(monitor.currentArtist.get(), artist);
        QCOMPARE(monitor.isPlaying.get(), playing);
        QCOMPARE(monitor.nowPlayingText(), text);
        QCOMPARE(capture.take(), logs);
    }

    void missingScript()
    {
        VirtualScheduler scheduler;
        LogRecorder logs(category);
        const QString path = m_dir->filePath(QStringLiteral("get-now-playing.pl"));
        NowPlayingMonitor monitor(scheduler, QStringLiteral("/bin/sh"), path);
        scheduler.advance(NowPlayingMonitor::pollInterval * 3);
        QVERIFY(!monitor.isHelperRunning());
        QCOMPARE(logs.take(),
                 QStringList({QStringLiteral("error: MediaRemote helper not found at: ") + path}));
        QCOMPARE(monitor.currentTrack.get(), QString());
        QCOMPARE(monitor.isPlaying.get(), false);
    }

    void noResourceFolder()
    {
        VirtualScheduler scheduler;
        LogRecorder logs(category);
        NowPlayingMonitor monitor(scheduler, QStringLiteral("/bin/sh"), std::nullopt);
        scheduler.advance(NowPlayingMonitor::pollInterval * 2);
        QVERIFY(!monitor.isHelperRunning());
        QCOMPARE(logs.take(), QStringList({QStringLiteral("error: Could not get app bundle resource path")}));
    }

    // Starting fails on every poll: each is logged, and the next poll still runs.
    void missingInterpreter()
    {
        setLine(songByBand);
        VirtualScheduler scheduler;
        LogRecorder logs(category);
        NowPlayingMonitor monitor(scheduler, m_dir->filePath(QStringLiteral("no-perl")), lineStub());
        QVERIFY(waitIdle(monitor));
        scheduler.advance(NowPlayingMonitor::pollInterval);
        QVERIFY(waitIdle(monitor));
        const QStringList errors = logs.texts(QtCriticalMsg);
        QCOMPARE(errors.size(), 2);
        for (const QString& e : errors)
            QVERIFY2(e.startsWith(QStringLiteral("Failed to run helper: ")) && e.size() > 22, qPrintable(e));
        QCOMPARE(monitor.isPlaying.get(), false);
        QCOMPARE(runs(), 0);
    }

    // A helper that never ends: ticks are skipped while it runs, it is
    // killed after 8 s, and polling goes on afterwards.
    void hangingHelper()
    {
        setLine(songByBand);
        VirtualScheduler scheduler;
        LogRecorder logs(category);
        const QString hang = writeStub("if [ -e \"" + m_dir->filePath(QStringLiteral("hang")).toUtf8() +
                                       "\" ]; then exec sleep 60; fi\ncat \"" + linePath().toUtf8() + "\"\n");
        QFile(m_dir->filePath(QStringLiteral("hang"))).open(QIODevice::WriteOnly);
        NowPlayingMonitor monitor(scheduler, QStringLiteral("/bin/sh"), hang);
        QVERIFY(QTest::qWaitFor([&] { return runs() == 1; }));
        scheduler.advance(NowPlayingMonitor::pollInterval);
        QTest::qWait(100);
        QCOMPARE(runs(), 1);
        QVERIFY(monitor.isHelperRunning());
        QVERIFY(logs.texts(QtCriticalMsg).isEmpty());

        scheduler.advance(NowPlayingMonitor::helperTimeout - NowPlayingMonitor::pollInterval);
        QCOMPARE(logs.texts(QtCriticalMsg),
                 QStringList({QStringLiteral("Failed to run helper: Helper did not finish within 8 s")}));
        QVERIFY(waitIdle(monitor));
        QCOMPARE(monitor.isPlaying.get(), false);

        QFile::remove(m_dir->filePath(QStringLiteral("hang")));
        scheduler.advance(NowPlayingMonitor::pollInterval);
        QVERIFY(waitIdle(monitor));
        QCOMPARE(runs(), 2);
        QCOMPARE(monitor.isPlaying.get(), true);
    }

    void outputCap_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("decoded");
        QTest::newRow("exactly the cap") << NowPlayingMonitor::maxOutputBytes << true;
        QTest::newRow("one byte over") << NowPlayingMonitor::maxOutputBytes + 1 << false;
        QTest::newRow("endless") << qint64(-1) << false;
    }
    // A valid line padded with spaces to `size` bytes.
    void outputCap()
    {
        QFETCH(qint64, size);
        QFETCH(bool, decoded);
        QByteArray body;
        if (size < 0) {
            body = "exec yes '" + songByBand.trimmed() + "'\n";
        } else {
            setLine(QByteArray(size - songByBand.size(), ' ') + songByBand);
            body = "cat \"" + linePath().toUtf8() + "\"\n";
        }
        VirtualScheduler scheduler;
        LogRecorder logs(category);
        NowPlayingMonitor monitor(scheduler, QStringLiteral("/bin/sh"), writeStub(body));
        QVERIFY(waitIdle(monitor));
        QCOMPARE(monitor.isPlaying.get(), decoded);
        QCOMPARE(logs.texts(QtCriticalMsg),
                 decoded ? QStringList()
                         : QStringList(
                               {QStringLiteral("Failed to run helper: Helper output exceeded 65536 bytes")}));
    }

    // Destroying the monitor while a helper runs neither hangs nor reaches
    // the destroyed monitor.
    void destroyedWhileRunning()
    {
        VirtualScheduler scheduler;
        auto monitor = std::make_unique<NowPlayingMonitor>(scheduler, QStringLiteral("/bin/sh"),
                                                           writeStub("exec sleep 60\n"));
        QVERIFY(QTest::qWaitFor([&] { return runs() == 1; }));
        monitor.reset();
        scheduler.advance(NowPlayingMonitor::helperTimeout * 2);
        QCOMPARE(scheduler.pendingCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestNowPlayingMonitor)
#include "tst_nowplaying_monitor.moc"
