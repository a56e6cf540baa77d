// The application state wired to fakes of every backend, on virtual time:
// what reaches the server (as update requests) when the monitors, the camera
// and the session change, and what the state mirrors for the views.
#include "AppRig.h"
#include "LogRecorder.h"
#include "records/PhotoDecoder.h"

#include <QBuffer>
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

QString photoSize(const QJsonValue& value)
{
    if (!value.isString())
        return QStringLiteral("-");
    const std::optional<QImage> image = decodePhotoText(value.toString());
    return image ? QStringLiteral("%1x%2").arg(image->width()).arg(image->height()) : QStringLiteral("bad");
}

/**
 * What the wiring of the state sets off, as one line per effect: the requests
 * (with the token and the server they went to), the socket's join messages,
 * closes and new connections, the settings written, and what the views and
 * the user see. Taken between a mark and now, so a test compares whole lists
 * and any swapped, dropped or extra effect shows.
 */
class EffectLog
{
public:
    explicit EffectLog(Rig& rig) : m_rig(rig) { mark(); }

    void mark()
    {
        m_requests = m_rig.http->requests().size();
        m_sockets.clear();
        for (const auto& socket : m_rig.sockets->created())
            m_sockets.push_back({socket->sentTexts().size(), socket->closeCode()});
        m_stored = storedSettings();
        m_played = m_rig.sound.played.size();
        m_opened = m_rig.opener.opened.size();
        m_sessions = m_rig.camera ? m_rig.camera->sessionsOpened : 0;
        m_posted = m_rig.notifier->posted().size();
        m_views = views();
        m_categories = categories();
    }

    QStringList since() const
    {
        QStringList out;
        const auto& requests = m_rig.http->requests();
        for (qsizetype i = m_requests; i < requests.size(); ++i)
            out << request(requests[i]);
        const auto& sockets = m_rig.sockets->created();
        for (std::size_t i = 0; i < sockets.size(); ++i) {
            const bool isNew = i >= m_sockets.size();
            if (isNew)
                out << QStringLiteral("connect");
            const QStringList texts = sockets[i]->sentTexts().mid(isNew ? 0 : m_sockets[i].first);
            for (const QString& sent : texts) {
                const QJsonObject message = QJsonDocument::fromJson(sent.toUtf8()).object();
                out << message.value(QStringLiteral("type")).toString() + QStringLiteral(" team=") +
                           message.value(QStringLiteral("team")).toString();
            }
            if (sockets[i]->closeCode() && (isNew || sockets[i]->closeCode() != m_sockets[i].second))
                out << QStringLiteral("close %1").arg(*sockets[i]->closeCode());
        }
        const QMap<QString, QString> stored = storedSettings();
        for (auto it = stored.begin(); it != stored.end(); ++it) {
            if (m_stored.value(it.key()) != it.value())
                out << QStringLiteral("stored ") + it.key() + QLatin1Char('=') + it.value();
        }
        for (const QString& name : m_rig.sound.played.mid(m_played))
            out << QStringLiteral("sound ") + name;
        for (const QUrl& url : m_rig.opener.opened.mid(m_opened))
            out << QStringLiteral("open ") + url.toString(QUrl::FullyEncoded);
        for (const QString& view : views()) {
            if (!m_views.contains(view))
                out << view;
        }
        if (m_rig.camera && m_rig.camera->sessionsOpened != m_sessions)
            out << QStringLiteral("camera sessions %1").arg(m_rig.camera->sessionsOpened - m_sessions);
        for (const NotificationRequest& posted : m_rig.notifier->posted().mid(m_posted))
            out << QStringLiteral("notification ") + posted.title;
        if (categories() != m_categories)
            out << categories();
        return out;
    }

private:
    QMap<QString, QString> storedSettings() const
    {
        QMap<QString, QString> out;
        for (const char* key : {"userName", "userEmail", "teamName", "serverBaseURL", "apiToken",
                                "userStatus", "includeNowPlaying", "autoRetakeMinutes"})
            out.insert(QLatin1String(key),
                       m_rig.store->text(QLatin1String(key)).value_or(QStringLiteral("<none>")));
        // The stamp's time is the clock's; whether it is there is what counts.
        out.insert(QStringLiteral("userStatusUpdatedAt"),
                   m_rig.store->contains(QStringLiteral("userStatusUpdatedAt")) ? QStringLiteral("<set>")
                                                                                : QStringLiteral("<none>"));
        return out;
    }

    QStringList views() const
    {
        if (!m_rig.app)
            return {QStringLiteral("waiting -"), QStringLiteral("shown ring -"),
                    QStringLiteral("settings requested no"), QStringLiteral("bad photo no")};
        AppState& app = *m_rig.app;
        const std::optional<IncomingRing>& ring = app.incomingRing.get();
        return {
            QStringLiteral("waiting ") + app.waitingForResponse.get().value_or(QStringLiteral("-")),
            QStringLiteral("shown ring ") +
                (ring
                     ? ring->from + QStringLiteral(" photo=") +
                           (ring->photo
                                ? QStringLiteral("%1x%2").arg(ring->photo->width()).arg(ring->photo->height())
                                : QStringLiteral("-"))
                     : QStringLiteral("-")),
            QStringLiteral("settings requested ") + (app.shouldOpenSettings.get() ? "yes" : "no"),
            QStringLiteral("bad photo ") + (app.cameraCapture().photoSkipped.get() ? "yes" : "no")};
    }

    QStringList categories() const
    {
        QStringList out;
        for (const NotificationCategory& category : m_rig.notifier->categories()) {
            QStringList actions;
            for (const NotificationAction& action : category.actions)
                actions << action.identifier + QLatin1Char('=') + action.title +
                               (action.bringsProgramForward ? QStringLiteral(" (forward)") : QString());
            out << QStringLiteral("category ") + category.identifier + QStringLiteral(": ") +
                       actions.join(QStringLiteral(", "));
        }
        return out;
    }

    QString request(const FakeHttpClient::Request& r) const
    {
        const QString server = r.url.host() + QLatin1Char(':') + QString::number(r.url.port());
        const QString head = server + QStringLiteral(" token=") + r.apiToken;
        const QJsonObject body = r.json();
        const auto field = [&](const char* key) {
            const QJsonValue value = body.value(QLatin1String(key));
            return value.isUndefined() ? QStringLiteral("-") : value.toVariant().toString();
        };
        const QString path = r.url.path();
        if (path == QLatin1String("/pondra/teams"))
            return QStringLiteral("teams ") + head;
        if (path == QLatin1String("/pondra/update"))
            return QStringLiteral("update %1 name=%2 team=%3 present=%4 status=%5")
                .arg(head, field("name"), field("team"), field("isPondra"), field("status"));
        if (path == QLatin1String("/pondra/ring"))
            return QStringLiteral("ring %1 from=%2 fromId=%3 to=%4 email=%5 photo=%6")
                .arg(head, field("from"), field("fromId"), field("to"), field("email"), photo(body));
        if (path == QLatin1String("/pondra/ring-response"))
            return QStringLiteral("ring-response %1 from=%2 to=%3 accepted=%4")
                .arg(head, field("from"), field("to"), field("accepted"));
        return QString::fromLatin1(r.method) + QLatin1Char(' ') + path;
    }

    /// The photo a ring carries: "captured" when it is the one the camera took.
    QString photo(const QJsonObject& body) const
    {
        const QString size = photoSize(body.value(QStringLiteral("photo")));
        const std::optional<QImage>& captured = m_rig.app->cameraCapture().capturedImage.get();
        if (captured && size == QStringLiteral("%1x%2").arg(captured->width()).arg(captured->height()))
            return QStringLiteral("captured");
        return size;
    }

    Rig& m_rig;
    qsizetype m_requests = 0;
    std::vector<std::pair<qsizetype, std::optional<int>>> m_sockets;
    QMap<QString, QString> m_stored;
    qsizetype m_played = 0;
    qsizetype m_opened = 0;
    int m_sessions = 0;
    qsizetype m_posted = 0;
    QStringList m_views;
    QStringList m_categories;
};

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
    void wiring_data();
    void wiring();
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

void TestAppState::wiring_data()
{
    // `setup`: words among "present" (a photo taken, the user present),
    // "player" (a track playing), "nameless" (no user name), "ringing" (Bo's
    // ring shown). `action`: what the test does. `effects`: what follows.
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QStringList>("effects");
    const QString server = QStringLiteral("localhost:8787 token=tok-first-0123456789");
    const auto at = [&](const QString& rest) { return rest.arg(server); };

    // Construction: the first record, the connection with its team list and
    // resync, and the "RING" category.
    QTest::newRow("construction") << ""
                                  << "build"
                                  << QStringList{at("teams %1"),
                                                 at("update %1 name=Ana team=Blue present=false status="),
                                                 at("update %1 name=Ana team=Blue present=false status="),
                                                 "connect",
                                                 "join team=Blue",
                                                 "category RING: SURE=Sure! (forward), LATER=Maybe Later"};

    // Each setting saves, then runs its own effects and no others.
    QTest::newRow("user name") << "present"
                               << "setUserName Bo"
                               << QStringList{at("update %1 name=Bo team=Blue present=true status="),
                                              "stored userName=Bo"};
    // The team is not part of what decides a resend: the join carries it.
    QTest::newRow("team name") << "present"
                               << "setTeamName Red" << QStringList{"join team=Red", "stored teamName=Red"};
    QTest::newRow("e-mail") << "present"
                            << "setUserEmail bo@example.org"
                            << QStringList{"stored userEmail=bo@example.org"};
    QTest::newRow("server address") << "present"
                                    << "setServerBaseURL localhost:9999"
                                    << QStringList{"teams localhost:9999 token=tok-first-0123456789",
                                                   "close 1001", "stored serverBaseURL=localhost:9999"};
    QTest::newRow("token") << "present"
                           << "setApiToken tok-second-987654321"
                           << QStringList{"close 1001", "stored apiToken=tok-second-987654321"};
    QTest::newRow("status") << "present"
                            << "setUserStatus Lunch"
                            << QStringList{at("update %1 name=Ana team=Blue present=true status=Lunch"),
                                           "stored userStatus=Lunch", "stored userStatusUpdatedAt=<set>"};
    // The record carries the full status while present: the track joins it.
    QTest::newRow("now playing on")
        << "present player"
        << "setIncludeNowPlaying true"
        << QStringList{at("update %1 name=Ana team=Blue present=true status=\U0001F3B5 Band - Song"),
                       "stored includeNowPlaying=true"};
    QTest::newRow("auto-retake") << "present"
                                 << "setAutoRetakeMinutes 1" << QStringList{"stored autoRetakeMinutes=1"};

    // The ring manager's seven callbacks: address, name, id, e-mail, photo and
    // token reach the request.
    QTest::newRow("ring out")
        << "present"
        << "sendRing Bo"
        << QStringList{at("ring %1 from=Ana fromId=U-ana to=Bo email=ana@example.org photo=captured"),
                       "waiting Checking with Bo..."};
    QTest::newRow("ring out, no photo yet")
        << ""
        << "sendRing Bo"
        << QStringList{at("ring %1 from=Ana fromId=U-ana to=Bo email=ana@example.org photo=-"),
                       "waiting Checking with Bo..."};
    QTest::newRow("ring answered") << "ringing"
                                   << "dismissRing true"
                                   << QStringList{at("ring-response %1 from=Ana to=Bo accepted=true"),
                                                  "shown ring -"};
    QTest::newRow("ring declined") << "ringing"
                                   << "dismissRing false"
                                   << QStringList{at("ring-response %1 from=Ana to=Bo accepted=false"),
                                                  "shown ring -"};

    // The connection's ring callbacks: sound first, then the ring with its photo.
    QTest::newRow("ring in") << ""
                             << "receive ring" << QStringList{"sound ring", "shown ring Bo photo=64x48"};
    QTest::newRow("ring answer: later") << ""
                                        << "receive declined" << QStringList{"waiting Maybe later!"};
    QTest::newRow("ring answer: sure, with a link")
        << ""
        << "receive accepted" << QStringList{"open https://meet.example.com/x?authuser=ana@example.org"};

    QTest::newRow("settings prompt, no name")
        << "nameless"
        << "checkEmailOnStartup" << QStringList{"settings requested yes"};
    QTest::newRow("settings prompt, named") << ""
                                            << "checkEmailOnStartup" << QStringList{};

    // The retake timer captures while present, as an automatic capture: a run
    // without a photo raises no "Bad photo". The keep-alive of the first
    // capture's presence is due at the same moment.
    QTest::newRow("auto-retake tick")
        << "present"
        << "retake tick"
        << QStringList{at("update %1 name=Ana team=Blue present=true status="), "camera sessions 1"};
    // A change of presence restarts the keep-alive: 59 s on, it has not
    // resent. Going away sends twice: the change, and the away photo (forced).
    const QString away = at("update %1 name=Ana team=Blue present=false status=");
    QTest::newRow("keep-alive restarted by going away") << "present"
                                                        << "away, then 59 s" << QStringList{away, away};
    QTest::newRow("keep-alive 60 s after going away") << "present"
                                                      << "away, then 60 s" << QStringList{away, away, away};
}

void TestAppState::wiring()
{
    QFETCH(QString, setup);
    QFETCH(QString, action);
    QFETCH(QStringList, effects);
    Rig rig;
    rig.store->setText(QStringLiteral("userId"), QStringLiteral("U-ana"));
    rig.store->setText(QStringLiteral("userEmail"), QStringLiteral("ana@example.org"));
    rig.store->setText(QStringLiteral("serverBaseURL"), QStringLiteral("localhost:8787"));
    rig.store->setText(QStringLiteral("apiToken"), QStringLiteral("tok-first-0123456789"));
    if (setup.contains(QLatin1String("nameless")))
        rig.store->remove(QStringLiteral("userName"));
    const bool player = setup.contains(QLatin1String("player"));
    if (player)
        rig.setNowPlaying(true, QStringLiteral("Song"), QStringLiteral("Band"));
    if (action == QLatin1String("retake tick"))
        rig.store->setInteger(QStringLiteral("autoRetakeMinutes"), 1);

    EffectLog log(rig);
    if (action == QLatin1String("build")) {
        rig.build(player);
        rig.settle();
        QCOMPARE(log.since(), effects);
        return;
    }
    rig.build(player);
    AppState& app = *rig.app;
    if (setup.contains(QLatin1String("present")))
        rig.capture();
    if (setup.contains(QLatin1String("ringing"))) {
        QVERIFY(rig.sockets->latest()->deliverText(ringMessage(QStringLiteral("Ana"))));
        QVERIFY(app.incomingRing.get());
    }
    rig.settle();
    log.mark();

    const QString argument = action.section(QLatin1Char(' '), 1);
    const QString verb = action.section(QLatin1Char(' '), 0, 0);
    const QHash<QString, std::function<void()>> actions{
        {QStringLiteral("setUserName"), [&] { app.setUserName(argument); }},
        {QStringLiteral("setTeamName"), [&] { app.setTeamName(argument); }},
        {QStringLiteral("setUserEmail"), [&] { app.setUserEmail(argument); }},
        {QStringLiteral("setServerBaseURL"), [&] { app.setServerBaseURL(argument); }},
        {QStringLiteral("setApiToken"), [&] { app.setApiToken(argument); }},
        {QStringLiteral("setUserStatus"), [&] { app.setUserStatus(argument); }},
        {QStringLiteral("setIncludeNowPlaying"),
         [&] { app.setIncludeNowPlaying(argument == QLatin1String("true")); }},
        {QStringLiteral("setAutoRetakeMinutes"), [&] { app.setAutoRetakeMinutes(argument.toLongLong()); }},
        {QStringLiteral("sendRing"), [&] { app.sendRing(argument); }},
        {QStringLiteral("dismissRing"),
         [&] { app.dismissRing(app.incomingRing.get()->id, argument == QLatin1String("true")); }},
        {QStringLiteral("checkEmailOnStartup"),
         [&] {
             app.checkEmailOnStartup();
             rig.scheduler.advance(499ms);
             QVERIFY(!app.shouldOpenSettings.get());
             rig.scheduler.advance(1ms);
         }},
        {QStringLiteral("receive"),
         [&] {
             QImage small(64, 48, QImage::Format_RGB32);
             small.fill(Qt::darkCyan);
             QByteArray jpeg;
             QBuffer buffer(&jpeg);
             QVERIFY(buffer.open(QIODevice::WriteOnly) && small.save(&buffer, "JPEG"));
             QJsonObject message{{QStringLiteral("from"), QStringLiteral("Bo")},
                                 {QStringLiteral("to"), QStringLiteral("Ana")}};
             if (argument == QLatin1String("ring")) {
                 message.insert(QStringLiteral("type"), QStringLiteral("ring"));
                 message.insert(QStringLiteral("url"), QStringLiteral("https://meet.example.com/ignored"));
                 message.insert(QStringLiteral("photo"), QString::fromLatin1(jpeg.toBase64()));
             } else {
                 message.insert(QStringLiteral("type"), QStringLiteral("ring-response"));
                 message.insert(QStringLiteral("accepted"), argument == QLatin1String("accepted"));
                 if (argument == QLatin1String("accepted"))
                     message.insert(QStringLiteral("url"), QStringLiteral("https://meet.example.com/x"));
             }
             QVERIFY(rig.sockets->latest()->deliverText(text(message)));
         }},
        {QStringLiteral("retake"),
         [&] {
             // The timer was armed at construction; the first capture took 2 s.
             rig.scheduler.advance(58s);
             QVERIFY(app.cameraCapture().isCapturing());
             rig.scheduler.advance(2s); // the run ends without a frame, so without a photo
             QTRY_VERIFY(!app.cameraCapture().isCapturing());
         }},
        {QStringLiteral("away,"),
         [&] {
             rig.scheduler.advance(50s);
             log.mark();
             app.cameraCapture().resetPondra();
             rig.settle();
             rig.scheduler.advance(action.endsWith(QLatin1String("59 s")) ? 59s : 60s);
         }},
    };
    QVERIFY2(actions.contains(verb), qPrintable(verb));
    actions.value(verb)();
    rig.settle();
    QCOMPARE(log.since(), effects);
}

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
