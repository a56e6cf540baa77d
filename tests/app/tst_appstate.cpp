// The application state wired to fakes of every backend, on virtual time:
// what reaches the server (as update requests) when the monitors, the camera
// and the session change, and what the state mirrors for the views.
#include "AppRig.h"
#include "LogRecorder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QtTest>

using namespace pondra;
using pondra::test::detailedFrame;
using pondra::test::nowPlayingLine;
using Rig = pondra::test::AppRig;
using namespace std::chrono_literals;

namespace {

QString text(const QJsonObject& message)
{
    return QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact));
}

QString ringMessage(const QString& to)
{
    return text({{QStringLiteral("type"), QStringLiteral("ring")},
                 {QStringLiteral("from"), QStringLiteral("Bo")},
                 {QStringLiteral("to"), to},
                 {QStringLiteral("url"), QStringLiteral("https://meet.example.com/x")}});
}

bool present(const QJsonObject& record)
{
    return record.value(QStringLiteral("isPondra")).toBool();
}
QString band(const QJsonObject& record)
{
    return record.value(QStringLiteral("idleState")).toString();
}
QJsonValue photo(const QJsonObject& record)
{
    return record.value(QStringLiteral("photo"));
}

} // namespace

class TestAppState final : public QObject
{
    Q_OBJECT

    // Every line of each test; none may hold the token the state uses.
    std::optional<test::LogRecorder> m_log;

private Q_SLOTS:
    void init() { m_log.emplace(); }
    void cleanup()
    {
        m_log->expectNoLineContains({AppSettings::defaultApiToken()});
        m_log.reset();
    }

    void freshStartUploadsOnce_data();
    void freshStartUploadsOnce();
    void reachingIdleSendsAway_data();
    void reachingIdleSendsAway();
    void trackChangeForcesOnlyWhenShown_data();
    void trackChangeForcesOnlyWhenShown();
    void newPhotoAlwaysForces();
    void screenLock_data();
    void screenLock();
    void wakeReconnectsThenChecksStaleness();
    void ringPlaysSoundBeforeShowing();
    void dismissingWithAnIdTheDismissalClears_data();
    void dismissingWithAnIdTheDismissalClears();
    void mirrorsFollowTheirSources();
};

void TestAppState::freshStartUploadsOnce_data()
{
    QTest::addColumn<bool>("cachedPhoto");
    QTest::addColumn<bool>("staleStatus");
    QTest::newRow("nothing stored") << false << false;
    // Loaded while the capture service is made: not a new photo.
    QTest::addRow("cached away photo") << true << false;
    // Cleared during construction, before the services are connected.
    QTest::addRow("status from yesterday") << false << true;
}

void TestAppState::freshStartUploadsOnce()
{
    QFETCH(bool, cachedPhoto);
    QFETCH(bool, staleStatus);
    Rig rig;
    if (cachedPhoto) {
        QVERIFY(QDir().mkpath(rig.awayFolder));
        QVERIFY(detailedFrame(90).save(rig.awayFolder + QStringLiteral("/away-photo.jpg"), "JPG"));
    }
    if (staleStatus) {
        rig.store->setText(QStringLiteral("userStatus"), QStringLiteral("Lunch"));
        rig.store->setDate(QStringLiteral("userStatusUpdatedAt"), rig.scheduler.now().addDays(-1));
    }
    rig.build();
    AppState& app = *rig.app;

    // Nothing is built during construction; the keep-alive already runs and
    // the first socket is opening, not yet answered.
    QCOMPARE(rig.http->count("POST"), 0);
    QVERIFY(app.networkClient().isKeepAliveRunning());
    QCOMPARE(rig.sockets->count(), 1);
    QVERIFY(rig.sockets->latest()->isOpened());
    QVERIFY(!app.isConnected.get());
    QCOMPARE(bool(app.cameraCapture().capturedImage.get()), cachedPhoto);
    QCOMPARE(rig.notifier->posted().size(), staleStatus ? 1 : 0);
    QCOMPARE(app.userStatus().get(), QString());

    // The start requests upload one record; the connection's own resync
    // (forced) sends the same record once more.
    const QList<QJsonObject> uploads = rig.newUploads();
    QCOMPARE(uploads.size(), 2);
    for (QJsonObject record : uploads) {
        QCOMPARE(record.value(QStringLiteral("id")).toString(), app.userId());
        QCOMPARE(record.value(QStringLiteral("name")).toString(), QStringLiteral("Ana"));
        QCOMPARE(record.value(QStringLiteral("team")).toString(), QStringLiteral("Blue"));
        QVERIFY(!present(record));
        QCOMPARE(band(record), QStringLiteral("idle"));
        QCOMPARE(record.value(QStringLiteral("status")).toString(), QString());
        QCOMPARE(photo(record).isString(), cachedPhoto);
    }
    QCOMPARE(uploads[0], uploads[1]);

    // The keep-alive resends the record a minute after it started.
    rig.scheduler.advance(59s);
    QCOMPARE(rig.newUploads().size(), 0);
    rig.scheduler.advance(1s);
    QCOMPARE(rig.newUploads().size(), 1);
}

void TestAppState::reachingIdleSendsAway_data()
{
    QTest::addColumn<bool>("presentBefore");
    QTest::newRow("present") << true;
    QTest::newRow("away") << false;
}

void TestAppState::reachingIdleSendsAway()
{
    QFETCH(bool, presentBefore);
    Rig rig;
    rig.build();
    AppState& app = *rig.app;
    rig.capture();
    QVERIFY(app.cameraCapture().isPondraMode.get());
    if (!presentBefore)
        app.cameraCapture().resetPondra();
    const QJsonValue photoBefore = rig.newUploads().last().value(QStringLiteral("photo"));
    QVERIFY(photoBefore.isString());

    rig.idle->reading = 1799.0;
    rig.scheduler.advance(1s);
    const QList<QJsonObject> semiIdle = rig.newUploads();
    QCOMPARE(semiIdle.size(), presentBefore ? 1 : 0);
    if (presentBefore)
        QCOMPARE(band(semiIdle[0]), QStringLiteral("semiIdle"));

    // Present: the user is sent away, so no record ever says "present and
    // idle", and the pixelated photo goes out.
    rig.idle->reading = 1800.0;
    rig.scheduler.advance(1s);
    QVERIFY(!app.cameraCapture().isPondraMode.get());
    const QList<QJsonObject> idle = rig.newUploads();
    if (presentBefore) {
        QVERIFY(!idle.isEmpty());
        for (const QJsonObject& record : idle) {
            QVERIFY(!present(record));
            QCOMPARE(band(record), QStringLiteral("idle"));
            QVERIFY(photo(record).isString());
            QVERIFY(photo(record) != photoBefore);
        }
    } else {
        // Away already: the unchanged record is not sent again.
        QCOMPARE(idle.size(), 0);
    }

    // Still idle while coming back: the band did not change, so nothing sends
    // the user away again.
    rig.capture(true);
    rig.scheduler.advance(5s);
    QVERIFY(app.cameraCapture().isPondraMode.get());
    QVERIFY(present(rig.newUploads().last()));
}

void TestAppState::trackChangeForcesOnlyWhenShown_data()
{
    QTest::addColumn<bool>("includeNowPlaying");
    QTest::newRow("off") << false;
    QTest::newRow("on") << true;
}

void TestAppState::trackChangeForcesOnlyWhenShown()
{
    QFETCH(bool, includeNowPlaying);
    Rig rig;
    rig.setNowPlaying(true, QStringLiteral("First"), QStringLiteral("Band"));
    rig.build(true);
    AppState& app = *rig.app;
    QCOMPARE(app.nowPlayingMonitor().currentTrack.get(), QStringLiteral("First"));
    rig.newUploads();
    if (includeNowPlaying) {
        // Turning it on sends one record (forced), though nothing shown changed.
        app.setIncludeNowPlaying(true);
        QCOMPARE(rig.newUploads().size(), 1);
    }

    // Away, so the record carries neither the track nor the playing flag: it
    // is unchanged, and only a forced request sends it.
    rig.setNowPlaying(true, QStringLiteral("Second"), QStringLiteral("Band"));
    rig.scheduler.advance(NowPlayingMonitor::pollInterval);
    QTRY_COMPARE(app.nowPlayingMonitor().currentTrack.get(), QStringLiteral("Second"));
    const QList<QJsonObject> uploads = rig.newUploads();
    QCOMPARE(uploads.size(), includeNowPlaying ? 1 : 0);
    if (includeNowPlaying)
        QCOMPARE(uploads[0].value(QStringLiteral("status")).toString(), QString());
}

void TestAppState::newPhotoAlwaysForces()
{
    Rig rig;
    rig.build();
    rig.capture();
    const QList<QJsonObject> first = rig.newUploads();
    QVERIFY(!first.isEmpty());
    QVERIFY(present(first.last()));

    // Presence stays on and the record only knows "has a photo": the new photo
    // goes out because the request is forced.
    rig.capture(true);
    const QList<QJsonObject> second = rig.newUploads();
    QCOMPARE(second.size(), 1);
    QVERIFY(present(second[0]));
    QVERIFY(photo(second[0]).isString());
    QVERIFY(photo(second[0]) != photo(first.last()));
}

void TestAppState::screenLock_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<bool>("earlierPhoto");
    QTest::addColumn<bool>("sentAway");
    QTest::newRow("present") << QStringLiteral("present") << true << true;
    QTest::newRow("away") << QStringLiteral("away") << true << false;
    // The run started while away must not bring the user back; nor may the
    // lock send, replace or rewrite the away photo the user already has.
    QTest::newRow("capture run from away, no photo yet") << QStringLiteral("capturing") << false << false;
    QTest::newRow("capture run from away, earlier photo") << QStringLiteral("capturing") << true << false;
}

void TestAppState::screenLock()
{
    QFETCH(QString, before);
    QFETCH(bool, earlierPhoto);
    QFETCH(bool, sentAway);
    Rig rig;
    rig.build();
    AppState& app = *rig.app;
    CameraCapture& capture = app.cameraCapture();
    if (earlierPhoto) {
        rig.capture();
        if (before != QLatin1String("present"))
            capture.resetPondra();
    }
    rig.newUploads();
    // A file written from here on is a rewrite of the away photo.
    const QString awayPhoto = capture.awayPhotoPath();
    QFile::remove(awayPhoto);
    const std::optional<QImage> photoBefore = capture.capturedImage.get();
    int photoAssignments = 0;
    const Subscription photos =
        capture.capturedImage.subscribe(&app, [&](const std::optional<QImage>&) { ++photoAssignments; });

    if (before == QLatin1String("capturing")) {
        capture.capturePondra(false);
        rig.scheduler.advance(500ms);
        rig.camera->lastSession->deliverFrame(detailedFrame(70));
        QVERIFY(capture.isCapturing());
    }
    rig.session->lock();
    rig.scheduler.runPending();
    QVERIFY(app.isScreenLocked.get());
    QVERIFY(!capture.isPondraMode.get());
    rig.scheduler.advance(1500ms);
    QTRY_VERIFY(!capture.isCapturing());
    QVERIFY(!capture.isPondraMode.get());

    const QList<QJsonObject> uploads = rig.newUploads();
    QCOMPARE(!uploads.isEmpty(), sentAway);
    for (const QJsonObject& record : uploads)
        QVERIFY(!present(record));
    QCOMPARE(photoAssignments, sentAway ? 2 : 1);
    QCOMPARE(QFileInfo::exists(awayPhoto), sentAway);
    if (!sentAway)
        QVERIFY(capture.capturedImage.get() == photoBefore);

    rig.session->unlock();
    rig.scheduler.runPending();
    QVERIFY(!app.isScreenLocked.get());
    QVERIFY(!capture.isPondraMode.get());
}

void TestAppState::wakeReconnectsThenChecksStaleness()
{
    Rig rig;
    rig.build();
    AppState& app = *rig.app;
    app.setUserStatus(QStringLiteral("Lunch"));
    rig.newUploads();
    const std::shared_ptr<FakeWebSocket> first = rig.sockets->latest();

    // The next morning the machine wakes: the status clearing must find the
    // old socket already closed by the reconnect.
    rig.scheduler.setNow(rig.scheduler.now().addDays(1));
    std::optional<std::optional<int>> closeCodeWhenCleared;
    const Subscription watch = app.userStatus().subscribe(&app, [&](const QString& status) {
        if (status.isEmpty())
            closeCodeWhenCleared = first->closeCode();
    });
    rig.session->wake();
    rig.scheduler.runPending();
    QVERIFY(closeCodeWhenCleared);
    QCOMPARE(*closeCodeWhenCleared, std::optional<int>(NetworkClient::goingAwayCloseCode));
    QCOMPARE(rig.notifier->posted().size(), 1);
    QCOMPARE(rig.notifier->posted()[0].title, QStringLiteral("Status Cleared Overnight"));
    QCOMPARE(rig.newUploads().last().value(QStringLiteral("status")).toString(), QString());

    rig.scheduler.advance(NetworkClient::forcedReconnectDelay);
    QCOMPARE(rig.sockets->count(), 2);
    QVERIFY(rig.sockets->latest()->isOpened());
}

void TestAppState::ringPlaysSoundBeforeShowing()
{
    Rig rig;
    rig.build();
    AppState& app = *rig.app;
    QStringList playedWhenShown;
    bool shown = false;
    const Subscription watch = app.incomingRing.subscribe(&app, [&](const std::optional<IncomingRing>& ring) {
        if (ring) {
            shown = true;
            playedWhenShown = rig.sound.played;
        }
    });
    QVERIFY(rig.sockets->latest()->deliverText(ringMessage(QStringLiteral("Ana"))));
    QVERIFY(shown);
    QCOMPARE(playedWhenShown, QStringList{QString::fromLatin1(RingManager::ringSoundName)});
    QCOMPARE(app.incomingRing.get()->from, QStringLiteral("Bo"));

    // A ring for someone else is neither played nor shown.
    app.dismissRing(app.incomingRing.get()->id, false);
    rig.sound.played.clear();
    QVERIFY(rig.sockets->latest()->deliverText(ringMessage(QStringLiteral("Cy"))));
    QVERIFY(rig.sound.played.isEmpty());
    QVERIFY(!app.incomingRing.get());
}

void TestAppState::dismissingWithAnIdTheDismissalClears_data()
{
    QTest::addColumn<bool>("viewCopy");
    QTest::addColumn<bool>("accepted");
    // The mirror's own text, by reference, which the dismissal destroys.
    QTest::newRow("mirror's id, accepted") << false << true;
    QTest::newRow("mirror's id, declined") << false << false;
    // A view's text that the view empties when it sees the ring go.
    QTest::newRow("view's id, accepted") << true << true;
    QTest::newRow("view's id, declined") << true << false;
}

void TestAppState::dismissingWithAnIdTheDismissalClears()
{
    QFETCH(bool, viewCopy);
    QFETCH(bool, accepted);
    Rig rig;
    rig.build();
    AppState& app = *rig.app;
    QVERIFY(rig.sockets->latest()->deliverText(ringMessage(QStringLiteral("Ana"))));
    QVERIFY(app.incomingRing.get());
    QString shownId;
    const Subscription view = app.incomingRing.subscribe(
        &app, [&](const std::optional<IncomingRing>& ring) { shownId = ring ? ring->id : QString(); });
    const qsizetype before = rig.http->requests().size();

    app.dismissRing(viewCopy ? shownId : app.incomingRing.get()->id, accepted);
    QVERIFY(!app.incomingRing.get());
    QVERIFY(!app.ringManager().incomingRing.get());
    QVERIFY(app.ringManager().pendingRings().isEmpty());
    QCOMPARE(rig.http->requests().size(), before + 1);
    const FakeHttpClient::Request& answer = rig.http->requests().last();
    QCOMPARE(answer.url.path(), QStringLiteral("/pondra/ring-response"));
    QCOMPARE(answer.json(), (QJsonObject{{QStringLiteral("from"), QStringLiteral("Ana")},
                                         {QStringLiteral("to"), QStringLiteral("Bo")},
                                         {QStringLiteral("accepted"), accepted}}));
}

void TestAppState::mirrorsFollowTheirSources()
{
    Rig rig;
    rig.build();
    AppState& app = *rig.app;
    NetworkClient& net = app.networkClient();
    RingManager& rings = app.ringManager();
    QSignalSpy changed(&app, &AppState::changed);
    const auto allMirrored = [&] {
        return app.remoteUsers.get() == net.remoteUsers.get() &&
               app.availableTeams.get() == net.availableTeams.get() &&
               app.isConnected.get() == net.isConnected.get() &&
               app.isScreenLocked.get() == app.systemEventObserver().isScreenLocked.get() &&
               app.waitingForResponse.get() == rings.waitingForResponse.get() &&
               bool(app.incomingRing.get()) == bool(rings.incomingRing.get()) &&
               (!app.incomingRing.get() || app.incomingRing.get()->id == rings.incomingRing.get()->id);
    };
    QVERIFY(allMirrored());
    QCOMPARE(app.availableTeams.get(), QStringList{QStringLiteral("Default")});

    // A users message: connected, and the teammates arrive.
    const QJsonObject bo{{QStringLiteral("id"), QStringLiteral("B2")},
                         {QStringLiteral("name"), QStringLiteral("Bo")},
                         {QStringLiteral("team"), QStringLiteral("Blue")},
                         {QStringLiteral("isPondra"), true},
                         {QStringLiteral("isIdle"), false},
                         {QStringLiteral("idleState"), QStringLiteral("active")},
                         {QStringLiteral("idleSeconds"), 3},
                         {QStringLiteral("lastUpdate"), QStringLiteral("2026-01-05T11:59:00Z")}};
    QVERIFY(rig.sockets->latest()->deliverText(
        text({{QStringLiteral("type"), QStringLiteral("users")}, {QStringLiteral("data"), QJsonArray{bo}}})));
    QVERIFY(app.isConnected.get());
    QCOMPARE(app.remoteUsers.get().size(), 1);
    QCOMPARE(app.remoteUsers.get()[0].name, QStringLiteral("Bo"));
    QVERIFY(allMirrored());

    // The team list the connection fetched when it connected.
    rig.settle();
    int teamsRequest = -1;
    for (int i = 0; i < rig.http->requests().size(); ++i) {
        if (rig.http->requests()[i].url.path() == QLatin1String("/pondra/teams"))
            teamsRequest = i;
    }
    QVERIFY(teamsRequest >= 0);
    rig.http->answer(teamsRequest, 200, "[\"Blue\",\"Red\"]");
    QCOMPARE(app.availableTeams.get(), (QStringList{QStringLiteral("Blue"), QStringLiteral("Red")}));
    QVERIFY(allMirrored());

    // Ringing out shows the waiting text; a ring in is shown.
    app.sendRing(QStringLiteral("Bo"));
    QVERIFY(app.waitingForResponse.get());
    QVERIFY(rig.sockets->latest()->deliverText(ringMessage(QStringLiteral("Ana"))));
    QVERIFY(app.incomingRing.get());
    QVERIFY(allMirrored());

    rig.session->lock();
    rig.scheduler.runPending();
    QVERIFY(app.isScreenLocked.get());
    QVERIFY(allMirrored());

    // A failed receive: not connected any more.
    QTest::ignoreMessage(QtCriticalMsg, "WebSocket receive error: reset by peer");
    QVERIFY(rig.sockets->latest()->failReceive(QStringLiteral("reset by peer")));
    QVERIFY(!app.isConnected.get());
    QVERIFY(allMirrored());
    QVERIFY(changed.count() >= 6);
}

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
