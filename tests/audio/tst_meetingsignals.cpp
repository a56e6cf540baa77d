#include "platform/audio/FakeAudioDeviceSource.h"
#include "platform/meeting/LinuxMeetingSignals.h"

#include "FakeProcTree.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <set>

using namespace pondra;

namespace {

class FakeWindows final : public ActiveWindowSource
{
public:
    std::optional<ActiveWindow> window;
    std::optional<ActiveWindow> activeWindow() override { return window; }
};

struct Rig
{
    test::FakeProcTree proc;
    std::shared_ptr<FakeAudioDeviceSource> audio = std::make_shared<FakeAudioDeviceSource>();
    std::shared_ptr<FakeWindows> windows = std::make_shared<FakeWindows>();
    std::set<QByteArray> captureNodes{"/dev/video0"};
    int capabilityQueries = 0;

    LinuxMeetingSignals make()
    {
        return LinuxMeetingSignals(
            audio, proc.root(),
            [this](const QByteArray& node) {
                ++capabilityQueries;
                return captureNodes.count(node) > 0;
            },
            windows);
    }
};

QStringList names(const std::vector<RunningApplication>& apps)
{
    QStringList out;
    for (const auto& a : apps)
        out << QString::number(a.pid) + QLatin1Char(' ') + a.executableName
                   + (a.flatpakId.isEmpty() ? QString() : QLatin1Char(' ') + a.flatpakId);
    return out;
}

} // namespace

class TestMeetingSignals final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runningApplicationsInPidOrder()
    {
        Rig rig;
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(900).withExe("/opt/zoom/zoom").withComm("zoom")));
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(42).withExe("/usr/bin/bash").withComm("bash")));
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(1300).withExe("/usr/lib/chromium/chromium-long-binary-name (deleted)").withComm("chromium-long-b")));
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(77).withComm("kworker"))); // no exe link: comm stands in
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(5000).withExe("/app/bin/slack").withFlatpak("com.slack.Slack").withComm("slack")));
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(600).withExe("/usr/bin/teams").withComm("teams")));
        QVERIFY(rig.proc.chown(600, 4242)); // another user's process
        auto sig = rig.make();
        QCOMPARE(names(sig.collectNow().runningApplications),
                 (QStringList{"42 bash", "77 kworker", "900 zoom", "1300 chromium-long-binary-name", "5000 slack com.slack.Slack"}));
    }

    void cameraInUse_data()
    {
        QTest::addColumn<QStringList>("fds");
        QTest::addColumn<bool>("otherUser");
        QTest::addColumn<bool>("inUse");
        QTest::newRow("capture node open") << QStringList{"/dev/null", "/dev/video0"} << false << true;
        QTest::newRow("metadata node only") << QStringList{"/dev/video1"} << false << false;
        QTest::newRow("no video node") << QStringList{"/dev/null", "socket:[1234]", "/dev/snd/pcmC0D0c"} << false << false;
        QTest::newRow("someone else's process") << QStringList{"/dev/video0"} << true << false;
        QTest::newRow("nothing open") << QStringList{} << false << false;
    }

    void cameraInUse()
    {
        QFETCH(QStringList, fds);
        QFETCH(bool, otherUser);
        QFETCH(bool, inUse);
        Rig rig;
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(10).withExe("/usr/bin/bash").withFds(QStringList{"/dev/pts/0"})));
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(20).withExe("/usr/bin/cheese").withFds(fds)));
        if (otherUser)
            QVERIFY(rig.proc.chown(20, 4242));
        auto sig = rig.make();
        QCOMPARE(sig.collectNow().isCameraInUse, inUse);
        // Each node's capabilities are asked once, not on every look.
        const int queries = rig.capabilityQueries;
        QCOMPARE(sig.collectNow().isCameraInUse, inUse);
        QCOMPARE(rig.capabilityQueries, queries);
    }

    void cameraInUseWithKnownNodes_data()
    {
        QTest::addColumn<QStringList>("devNodes");
        QTest::addColumn<QStringList>("fds");
        QTest::addColumn<bool>("inUse");
        QTest::newRow("no video node on the machine") << QStringList{} << QStringList{"/dev/video0"} << false;
        QTest::newRow("metadata node only on the machine") << QStringList{"video1"} << QStringList{"/dev/video1"} << false;
        QTest::newRow("capture node held") << QStringList{"video0", "video1"} << QStringList{"/dev/null", "/dev/video0"} << true;
        QTest::newRow("metadata node held") << QStringList{"video0", "video1"} << QStringList{"/dev/video1"} << false;
        QTest::newRow("name only starts like the node") << QStringList{"video0"} << QStringList{"/dev/video01"} << false;
    }

    void cameraInUseWithKnownNodes()
    {
        QFETCH(QStringList, devNodes);
        QFETCH(QStringList, fds);
        QFETCH(bool, inUse);
        QTemporaryDir dev;
        for (const QString& node : devNodes + QStringList{"null", "video"}) {
            QFile file(dev.path() + QLatin1Char('/') + node);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        test::FakeProcTree proc;
        QVERIFY(proc.add(test::FakeProcTree::Process(10).withExe("/usr/bin/bash").withFds(QStringList{"/dev/pts/0"})));
        QVERIFY(proc.add(test::FakeProcTree::Process(20).withExe("/usr/bin/cheese").withFds(fds)));
        QStringList asked;
        LinuxMeetingSignals sig(
            std::make_shared<FakeAudioDeviceSource>(), proc.root(),
            [&](const QByteArray& node) {
                asked << QFile::decodeName(node);
                return node.endsWith("/video0");
            },
            std::make_shared<FakeWindows>(), QFile::encodeName(dev.path()));
        QCOMPARE(sig.collectNow().isCameraInUse, inUse);
        QCOMPARE(sig.collectNow().isCameraInUse, inUse);
        // The machine's nodes are asked about once each, by their place in the dev folder.
        QStringList expected;
        for (const QString& node : devNodes + QStringList{"video"})
            expected << dev.path() + QLatin1Char('/') + node;
        asked.sort();
        expected.sort();
        QCOMPARE(asked, expected);

        // The holder lets go: the next look sees it, not the last one's answer.
        QDir(QFile::decodeName(proc.root() + "/20/fd")).removeRecursively();
        QVERIFY(!sig.collectNow().isCameraInUse);
    }

    void cameraAfterFreeLook_data()
    {
        // What happens between a look that found the camera free and the next one.
        QTest::addColumn<qint64>("holder");       // the process that gets /dev/video0 (0: none)
        QTest::addColumn<QString>("openedNode");  // the node opened and closed (empty: none)
        QTest::addColumn<QString>("newNode");     // a capture node that appears (empty: none)
        QTest::addColumn<bool>("inUse");
        QTest::newRow("a listed process opens the node") << qint64(20) << "video0" << "" << true;
        QTest::newRow("a new process brings a descriptor") << qint64(30) << "" << "" << true;
        QTest::newRow("the node is opened and closed again") << qint64(0) << "video0" << "" << false;
        QTest::newRow("the other node is opened") << qint64(20) << "video2" << "" << true;
        QTest::newRow("a camera is plugged in, already held") << qint64(20) << "" << "video0" << true;
        // Nothing was opened and the process was listed before: the look
        // trusts the last one without reading descriptors (on a real system
        // a descriptor cannot appear that way).
        QTest::newRow("a descriptor appears without an open") << qint64(20) << "" << "" << false;
    }

    void cameraAfterFreeLook()
    {
        QFETCH(qint64, holder);
        QFETCH(QString, openedNode);
        QFETCH(QString, newNode);
        QFETCH(bool, inUse);
        QTemporaryDir dev;
        const auto node = [&](const QString& name) { return dev.path() + QLatin1Char('/') + name; };
        for (const QString& name : QStringList{"null", "video0", "video1", "video2"}) {
            QFile file(node(name));
            QVERIFY(name == newNode || file.open(QIODevice::WriteOnly));
        }
        test::FakeProcTree proc;
        QVERIFY(proc.add(test::FakeProcTree::Process(10).withExe("/usr/bin/bash").withFds(QStringList{"/dev/pts/0"})));
        QVERIFY(proc.add(test::FakeProcTree::Process(20).withExe("/usr/bin/cheese").withFds(QStringList{"/dev/null"})));
        LinuxMeetingSignals sig(
            std::make_shared<FakeAudioDeviceSource>(), proc.root(),
            [](const QByteArray& path) { return path.endsWith("/video0") || path.endsWith("/video2"); },
            std::make_shared<FakeWindows>(), QFile::encodeName(dev.path()));
        QVERIFY(!sig.collectNow().isCameraInUse);
        QVERIFY(!sig.collectNow().isCameraInUse);

        if (!newNode.isEmpty()) {
            QFile file(node(newNode));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        const QByteArray held = "/dev/" + QFile::encodeName(openedNode.isEmpty() ? QStringLiteral("video0") : openedNode);
        if (holder == 30)
            QVERIFY(proc.add(test::FakeProcTree::Process(30).withExe("/usr/bin/zoom").withFds(QStringList{QFile::decodeName(held)})));
        else if (holder != 0)
            QCOMPARE(symlink(held.constData(), proc.root() + "/" + QByteArray::number(holder) + "/fd/7"), 0);
        if (!openedNode.isEmpty()) {
            QFile file(node(openedNode));
            QVERIFY(file.open(QIODevice::ReadOnly));
        }
        QCOMPARE(sig.collectNow().isCameraInUse, inUse);
    }

    void cameraSeenLater_data()
    {
        // After two looks that found the camera free, process 20 comes to
        // hold /dev/video0 in a way the node's watch alone does not show.
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("inUse");
        QTest::newRow("the pid is reused by a holder") << "pid reused" << true;
        QTest::newRow("the node is made again, the old one still open") << "node made again" << true;
        QTest::newRow("a descriptor arrives over a socket") << "descriptor" << false;
        QTest::newRow("a descriptor arrives over a socket, 30 s on") << "descriptor, 30 s" << true;
        QTest::newRow("a descriptor arrives over a socket, no inotify") << "descriptor, no inotify" << true;
        // The node could not be asked at first sight (udev had not yet
        // granted access): it is asked again at its next open, or 30 s on.
        QTest::newRow("a failed check, then the node is opened") << "failed check, opened" << true;
        QTest::newRow("a failed check, 30 s on") << "failed check, 30 s" << true;
        QTest::newRow("a failed check, 29 s on") << "failed check, 29 s" << false;
    }

    void cameraSeenLater()
    {
        QFETCH(QString, change);
        QFETCH(bool, inUse);
        QTemporaryDir dev;
        const auto node = [&](const QString& name) { return dev.path() + QLatin1Char('/') + name; };
        for (const QString& name : QStringList{"null", "video0", "video1", "video2"}) {
            QFile file(node(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        // Someone holds the first video0 open all along (so removing it sends no event).
        QFile firstNode(node(QStringLiteral("video0")));
        QVERIFY(firstNode.open(QIODevice::ReadOnly));
        test::FakeProcTree proc;
        QVERIFY(proc.add(test::FakeProcTree::Process(10).withExe("/usr/bin/bash").withFds(QStringList{"/dev/pts/0"})));
        QVERIFY(proc.add(test::FakeProcTree::Process(20).withExe("/usr/bin/cheese").withFds(QStringList{"/dev/null"})));
        qint64 now = 0;
        bool checkFails = change.startsWith(QLatin1String("failed check"));
        LinuxMeetingSignals sig(
            std::make_shared<FakeAudioDeviceSource>(), proc.root(),
            [&](const QByteArray& path) -> std::optional<bool> {
                if (checkFails && path.endsWith("/video0"))
                    return std::nullopt;
                return path.endsWith("/video0") || path.endsWith("/video2");
            },
            std::make_shared<FakeWindows>(), QFile::encodeName(dev.path()), [&] { return now; },
            !change.endsWith(QLatin1String("no inotify")));
        QVERIFY(!sig.collectNow().isCameraInUse);
        QVERIFY(!sig.collectNow().isCameraInUse);
        checkFails = false;

        const auto holdVideo0 = [&] { return symlink("/dev/video0", proc.root() + "/20/fd/7") == 0; };
        if (change == QLatin1String("pid reused")) {
            QVERIFY(QDir(QFile::decodeName(proc.root() + "/20")).removeRecursively());
            QTest::qWait(10);
            QVERIFY(proc.add(test::FakeProcTree::Process(20).withExe("/usr/bin/zoom").withFds(QStringList{"/dev/video0"})));
        } else if (change == QLatin1String("node made again")) {
            QVERIFY(QFile::remove(node(QStringLiteral("video0"))));
            QFile again(node(QStringLiteral("video0")));
            QVERIFY(again.open(QIODevice::WriteOnly));
            QVERIFY(holdVideo0());
        } else {
            QVERIFY(holdVideo0());
        }
        if (change == QLatin1String("failed check, opened"))
            QVERIFY(QFile(node(QStringLiteral("video0"))).open(QIODevice::ReadOnly));
        if (change.endsWith(QLatin1String("30 s")))
            now += 30'000;
        if (change.endsWith(QLatin1String("29 s")))
            now += 29'000;
        QCOMPARE(sig.collectNow().isCameraInUse, inUse);
    }

    void microphoneInUse_data()
    {
        QTest::addColumn<bool>("hasInput");
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("sameDevice");
        QTest::addColumn<bool>("inUse");
        QTest::newRow("separate microphone recording") << true << true << false << true;
        QTest::newRow("headset recording") << true << true << true << false;
        QTest::newRow("microphone idle") << true << false << false << false;
        QTest::newRow("no default input") << false << false << false << false;
    }

    void microphoneInUse()
    {
        QFETCH(bool, hasInput);
        QFETCH(bool, running);
        QFETCH(bool, sameDevice);
        QFETCH(bool, inUse);
        Rig rig;
        if (hasInput)
            rig.audio->setInput(AudioInputState{running, sameDevice});
        QCOMPARE(rig.make().collectNow().isMicInUse, inUse);
    }

    void frontmostApplication_data()
    {
        QTest::addColumn<qint64>("windowPid");
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<qint64>("frontmostPid"); // 0: none
        QTest::newRow("window pid of a plain process") << qint64(300) << "zoom" << qint64(300);
        QTest::newRow("sandbox pid mapped through NSpid") << qint64(2) << "Slack" << qint64(5000);
        QTest::newRow("two sandboxes share the inner pid: class decides") << qint64(4) << "discord" << qint64(6001);
        QTest::newRow("no pid: window class") << qint64(0) << "com.slack.Slack" << qint64(5000);
        QTest::newRow("unknown pid and class") << qint64(12345) << "xterm" << qint64(0);
    }

    void frontmostApplication()
    {
        QFETCH(qint64, windowPid);
        QFETCH(QString, windowClass);
        QFETCH(qint64, frontmostPid);
        Rig rig;
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(2).withExe("/usr/lib/systemd/systemd"))); // host pid 2 is not the sandbox's
        QVERIFY(rig.proc.chown(2, 4242));
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(300).withExe("/opt/zoom/zoom")));
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(5000).withExe("/app/bin/slack").withFlatpak("com.slack.Slack").withNsPids(QList<qint64>{2})));
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(6000).withExe("/app/bin/firefox").withFlatpak("org.mozilla.firefox").withNsPids(QList<qint64>{4})));
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(6001).withExe("/app/discord/Discord").withFlatpak("com.discordapp.Discord").withNsPids(QList<qint64>{4})));
        rig.windows->window = ActiveWindow{windowPid, windowClass};
        const auto evidence = rig.make().collectNow();
        QCOMPARE(evidence.frontmostApplication ? evidence.frontmostApplication->pid : 0, frontmostPid);

        rig.windows->window.reset(); // no X11: no frontmost application
        QVERIFY(!rig.make().collectNow().frontmostApplication);
    }

    void collectHandsResultToMainThread()
    {
        Rig rig;
        QVERIFY(rig.proc.add(test::FakeProcTree::Process(20).withExe("/usr/bin/cheese").withFds(QStringList{"/dev/video0"})));
        auto sig = rig.make();
        std::optional<MeetingEvidence> got;
        QThread* deliveredOn = nullptr;
        sig.collect([&](MeetingEvidence e) {
            deliveredOn = QThread::currentThread();
            got = std::move(e);
        });
        QTRY_VERIFY(got.has_value());
        QCOMPARE(deliveredOn, QThread::currentThread());
        QVERIFY(got->isCameraInUse);
    }
};

QTEST_GUILESS_MAIN(TestMeetingSignals)
#include "tst_meetingsignals.moc"
