#include "platform/core/Scheduler.h"
#include "platform/meeting/FakeMeetingSignals.h"
#include "sensing/MeetingMonitor.h"

#include "LogRecorder.h"

#include <QSignalSpy>
#include <QTest>

using namespace pondra;
using namespace std::chrono_literals;

namespace {

// "zoom" is an executable name, "flatpak:com.slack.Slack" a Flatpak id, a
// trailing "!" marks a hidden application.
RunningApplication app(QString text, qint64 pid)
{
    RunningApplication a;
    a.pid = pid;
    if (text.endsWith(QLatin1Char('!'))) {
        a.isHidden = true;
        text.chop(1);
    }
    if (text.startsWith(QLatin1String("flatpak:"))) {
        a.flatpakId = text.mid(8);
        a.executableName = QStringLiteral("bwrap");
    } else {
        a.executableName = text;
    }
    return a;
}

MeetingEvidence evidence(const QStringList& apps, const QString& frontmost, bool camera, bool mic)
{
    MeetingEvidence e;
    e.isCameraInUse = camera;
    e.isMicInUse = mic;
    qint64 pid = 100;
    for (const QString& text : apps)
        e.runningApplications.push_back(app(text, pid++));
    if (!frontmost.isEmpty())
        e.frontmostApplication = app(frontmost, 99);
    return e;
}

/// Hands each look back only when the test says so.
class DeferredSignals final : public MeetingSignals
{
public:
    MeetingEvidence evidence;
    std::vector<std::function<void(MeetingEvidence)>> waiting;

    MeetingEvidence collectNow() override { return evidence; }
    void collect(std::function<void(MeetingEvidence)> done) override { waiting.push_back(std::move(done)); }
};

} // namespace

class TestMeetingMonitor final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void verdict_data()
    {
        QTest::addColumn<QStringList>("apps");
        QTest::addColumn<QString>("frontmost");
        QTest::addColumn<bool>("camera");
        QTest::addColumn<bool>("mic");
        QTest::addColumn<bool>("inMeeting");
        QTest::addColumn<QString>("name");

        QTest::newRow("meeting app without camera or mic") << QStringList{"zoom"} << "" << false << false << false << "";
        QTest::newRow("zoom visible, mic in use") << QStringList{"bash", "zoom"} << "" << false << true << true << "Zoom";
        QTest::newRow("frontmost slack beats visible zoom") << QStringList{"zoom", "slack"} << "slack" << true << false
                                                            << true << "Slack";
        QTest::newRow("frontmost meeting app even if hidden") << QStringList{"slack!"} << "slack!" << true << false << true
                                                              << "Slack";
        QTest::newRow("primary teams beats earlier slack") << QStringList{"slack", "teams"} << "" << true << false << true
                                                           << "Teams";
        QTest::newRow("primary teams beats later slack") << QStringList{"teams", "slack"} << "" << true << false << true
                                                         << "Teams";
        QTest::newRow("slack and discord: first listed") << QStringList{"Discord", "slack"} << "" << true << false << true
                                                         << "Discord";
        QTest::newRow("discord and slack: first listed") << QStringList{"slack", "Discord"} << "" << true << false << true
                                                         << "Slack";
        QTest::newRow("two teams builds both say Teams") << QStringList{"teams-for-linux", "teams"} << "" << false << true
                                                         << true << "Teams";
        QTest::newRow("flatpak zoom by its id") << QStringList{"flatpak:us.zoom.Zoom"} << "" << true << false << true
                                                << "Zoom";
        QTest::newRow("hidden meeting app ignored, browser call") << QStringList{"zoom!", "firefox"} << "" << true << false
                                                                  << true << "Video Call";
        QTest::newRow("camera, no meeting app, no browser") << QStringList{"bash", "vim"} << "" << true << false << false
                                                            << "";
        QTest::newRow("camera and a hidden browser") << QStringList{"chrome!"} << "" << true << false << true
                                                     << "Video Call";
        QTest::newRow("mic and a flatpak browser") << QStringList{"flatpak:org.mozilla.firefox"} << "" << false << true
                                                   << true << "Video Call";
        QTest::newRow("browser without evidence") << QStringList{"firefox"} << "firefox" << false << false << false << "";
        QTest::newRow("frontmost browser is not a meeting app") << QStringList{"slack"} << "chromium" << true << false
                                                                << true << "Slack";
        QTest::newRow("identifiers are case-sensitive") << QStringList{"Zoom", "SLACK"} << "" << true << true << false
                                                        << "";
        QTest::newRow("nothing running") << QStringList{} << "" << true << true << false << "";
    }

    void verdict()
    {
        QFETCH(QStringList, apps);
        QFETCH(QString, frontmost);
        QFETCH(bool, camera);
        QFETCH(bool, mic);
        QFETCH(bool, inMeeting);
        QFETCH(QString, name);
        auto fake = std::make_shared<FakeMeetingSignals>();
        fake->evidence = evidence(apps, frontmost, camera, mic);
        VirtualScheduler scheduler;
        MeetingMonitor monitor(fake, scheduler);
        // The first verdict is there when the constructor returns.
        QCOMPARE(fake->looks, 1);
        QCOMPARE(monitor.isInMeeting.get(), inMeeting);
        QCOMPARE(monitor.meetingApp.get(), name);
        QCOMPARE(monitor.isCameraInUse.get(), camera);
        QCOMPARE(monitor.isMicInUse.get(), mic);
    }

    void pollsEveryTwoSecondsAssigningAllFour()
    {
        auto fake = std::make_shared<FakeMeetingSignals>();
        fake->evidence = evidence({"zoom"}, "", true, false);
        VirtualScheduler scheduler;
        MeetingMonitor monitor(fake, scheduler);
        int meetings = 0;
        auto sub = monitor.isInMeeting.subscribe(this, [&](bool) { ++meetings; });
        QSignalSpy changed(&monitor, &MeetingMonitor::changed);
        scheduler.advance(1999ms);
        QCOMPARE(fake->looks, 1);
        scheduler.advance(4001ms);
        QCOMPARE(fake->looks, 4);
        QCOMPARE(changed.count(), 3 * 4);
        QCOMPARE(meetings, 1 + 3);

        // The call ends: reported at the next look, nothing remembered.
        fake->evidence.isCameraInUse = false;
        scheduler.advance(2s);
        QCOMPARE(monitor.isInMeeting.get(), false);
        QCOMPARE(monitor.meetingApp.get(), QString());
    }

    void logsEachChangeOnce()
    {
        test::LogRecorder log("org.pondra.Pondra.MeetingMonitor");
        auto fake = std::make_shared<FakeMeetingSignals>();
        fake->evidence = evidence({"zoom", "firefox"}, "", false, false);
        VirtualScheduler scheduler;
        MeetingMonitor monitor(fake, scheduler);
        scheduler.advance(6s);
        QCOMPARE(log.take(), QStringList{}); // not in a meeting at start: no change

        fake->evidence.isMicInUse = true;
        scheduler.advance(6s);
        QCOMPARE(log.take(),
                 QStringList{"info: Meeting status changed: inMeeting=true, app=Zoom, camera=false, mic=true"});

        // Only the evidence changes, not the verdict: no line.
        fake->evidence.isCameraInUse = true;
        scheduler.advance(2s);
        QCOMPARE(monitor.isCameraInUse.get(), true);
        QCOMPARE(log.take(), QStringList{});

        // Zoom quits, the browser stays: only the name changes.
        fake->evidence.runningApplications.erase(fake->evidence.runningApplications.begin());
        scheduler.advance(2s);
        QCOMPARE(log.take(),
                 QStringList{"info: Meeting status changed: inMeeting=true, app=Video Call, camera=true, mic=true"});

        fake->evidence.isCameraInUse = fake->evidence.isMicInUse = false;
        scheduler.advance(4s);
        QCOMPARE(log.take(), QStringList{"info: Meeting status changed: inMeeting=false, app=, camera=false, mic=false"});
    }

    void slowLookIsNeverDoubledAndLateResultAfterReleaseIsIgnored()
    {
        auto slow = std::make_shared<DeferredSignals>();
        slow->evidence = evidence({"zoom"}, "", true, false);
        VirtualScheduler scheduler;
        auto monitor = std::make_unique<MeetingMonitor>(slow, scheduler);
        QCOMPARE(monitor->isInMeeting.get(), true);
        scheduler.advance(6s);
        QCOMPARE(slow->waiting.size(), std::size_t(1));

        slow->waiting.front()(evidence({}, "", false, false));
        slow->waiting.clear();
        QCOMPARE(monitor->isInMeeting.get(), false);
        scheduler.advance(2s);
        QCOMPARE(slow->waiting.size(), std::size_t(1));

        monitor.reset();
        slow->waiting.front()(evidence({"zoom"}, "", true, false)); // must not touch the gone monitor
        scheduler.advance(4s);
        QCOMPARE(slow->waiting.size(), std::size_t(1));
    }
};

QTEST_GUILESS_MAIN(TestMeetingMonitor)
#include "tst_meetingmonitor.moc"
