// The application state with its real server connection (real HTTP client,
// real WebSocket, real timers) against the local team server, with fake
// monitors and a fake camera: the server sees the records the fakes call for,
// and what the server pushes comes back into the state.
#include "app/AppState.h"
#include "platform/audio/FakeAudioDeviceSource.h"
#include "platform/camera/FakeCameraBackend.h"
#include "platform/idle/FakeIdleSource.h"
#include "platform/meeting/FakeMeetingSignals.h"
#include "platform/notify/FakeNotifier.h"
#include "platform/session/FakeSessionEvents.h"
#include "platform/sound/FakeSoundPlayer.h"
#include "platform/urlopener/FakeUrlOpener.h"

#include "LogRecorder.h"
#include "TeamServerProcess.h"
#include "TestEnvironment.h"

#include <QJsonDocument>
#include <QtTest>

using namespace pondra;

namespace {

QJsonObject bodyOf(const QJsonObject& event)
{
    return QJsonDocument::fromJson(event.value(QStringLiteral("body")).toString().toUtf8()).object();
}

bool isUpdate(const QJsonObject& event)
{
    return event.value(QStringLiteral("target")).toString() == QLatin1String("/pondra/update");
}

} // namespace

class TestAppStateEndToEnd final : public QObject
{
    Q_OBJECT

    // Every line of the run; none may hold the token.
    std::optional<test::LogRecorder> m_log;

private Q_SLOTS:
    void init() { m_log.emplace(); }
    void cleanup()
    {
        m_log->expectNoLineContains({test::TeamServerProcess::defaultToken()});
        m_log.reset();
    }

    void serverFollowsTheFakesAndTeammatesComeBack();
};

void TestAppStateEndToEnd::serverFollowsTheFakesAndTeammatesComeBack()
{
    test::ScopedXdgHome home;
    test::TeamServerProcess server;
    QVERIFY(server.start());

    auto store = std::make_shared<SettingsStore>();
    store->setText(QStringLiteral("userName"), QStringLiteral("Ana"));
    store->setText(QStringLiteral("teamName"), QStringLiteral("Blue"));
    store->setText(QStringLiteral("serverBaseURL"), server.baseUrl());

    Scheduler& scheduler = RealScheduler::instance();
    auto audio = std::make_shared<FakeAudioDeviceSource>();
    auto faces = std::make_shared<FakeFaceAnalyser>();
    FakeSoundPlayer sound;
    FakeUrlOpener opener;
    AppBackends backends;
    backends.settings = store;
    backends.notifier = std::make_shared<FakeNotifier>();
    auto idleSource = std::make_unique<FakeIdleSource>();
    idleSource->reading = 5.0;
    FakeIdleSource& idle = *idleSource;
    backends.idleSource = std::move(idleSource);
    auto camera = std::make_unique<FakeCameraBackend>(scheduler);
    camera->list = {{QStringLiteral("cam-1"), QStringLiteral("Built-in Camera")}};
    const QImage still(test::testDataPath(QStringLiteral("grace_hopper.jpg")));
    QVERIFY(!still.isNull());
    camera->stillPhotos = {still};
    backends.camera = std::move(camera);
    backends.faces = faces;
    backends.awayPhotoFolder = home.path() + QStringLiteral("/away");
    backends.audio = audio;
    backends.meeting = std::make_shared<FakeMeetingSignals>();
    backends.nowPlayingInterpreter = QStringLiteral("/bin/sh");
    backends.nowPlayingScript = home.path() + QStringLiteral("/no-such-helper.sh");
    QTest::ignoreMessage(QtCriticalMsg,
                         qPrintable(QStringLiteral("MediaRemote helper not found at: ") + *backends.nowPlayingScript));
    backends.sessionEvents = std::make_unique<FakeSessionEvents>();
    backends.rings.sound = &sound;
    backends.rings.urlOpener = &opener;
    AppState app(std::move(backends));

    // Wait for the next upload whose record satisfies `matches`.
    int seen = 0;
    const auto nextRecord = [&](const std::function<bool(const QJsonObject&)>& matches) -> std::optional<QJsonObject> {
        std::optional<QJsonObject> found;
        const bool ok = test::TeamServerProcess::pumpUntil([&] {
            const QList<QJsonObject> events = server.events(QStringLiteral("http"));
            for (; seen < events.size(); ++seen) {
                if (isUpdate(events[seen]) && matches(bodyOf(events[seen]))) {
                    found = bodyOf(events[seen++]);
                    return true;
                }
            }
            return false;
        });
        return ok ? found : std::nullopt;
    };
    const auto is = [](const char* key, const QJsonValue& value) {
        return [key, value](const QJsonObject& r) { return r.value(QLatin1String(key)) == value; };
    };

    // The start: away, masked, connected, and our record comes back.
    const auto first = nextRecord([](const QJsonObject&) { return true; });
    QVERIFY(first);
    QCOMPARE(first->value(QStringLiteral("id")).toString(), app.userId());
    QCOMPARE(first->value(QStringLiteral("name")).toString(), QStringLiteral("Ana"));
    QCOMPARE(first->value(QStringLiteral("team")).toString(), QStringLiteral("Blue"));
    QCOMPARE(first->value(QStringLiteral("isPondra")).toBool(), false);
    QCOMPARE(first->value(QStringLiteral("idleState")).toString(), QStringLiteral("idle"));
    QVERIFY(first->value(QStringLiteral("photo")).isNull());
    QVERIFY(test::TeamServerProcess::pumpUntil([&] { return app.isConnected.get() && app.remoteUsers.get().size() == 1; }));
    QCOMPARE(app.remoteUsers.get()[0].id, app.userId());

    // Coming back with a still photo: present, with the photo.
    app.cameraCapture().setUseBestPhoto(false);
    app.cameraCapture().capturePondra(true);
    const auto back = nextRecord(is("isPondra", true));
    QVERIFY(back);
    QCOMPARE(back->value(QStringLiteral("idleState")).toString(), QStringLiteral("active"));
    QVERIFY(back->value(QStringLiteral("photo")).isString());

    // Muting the output shows while present.
    AudioOutputState output;
    output.name = QStringLiteral("Speakers");
    output.transportType = QStringLiteral("Built-in");
    output.isMuted = true;
    audio->setOutput(output);
    const auto muted = nextRecord(is("isMuted", true));
    QVERIFY(muted);
    QVERIFY(muted->value(QStringLiteral("isPondra")).toBool());

    // Half an hour without input: sent away, the pixelated photo, nothing of the
    // user's activity.
    idle.reading = 1800.0;
    const auto away = nextRecord(is("isPondra", false));
    QVERIFY(away);
    QCOMPARE(away->value(QStringLiteral("idleState")).toString(), QStringLiteral("idle"));
    QCOMPARE(away->value(QStringLiteral("isMuted")).toBool(), false);
    QVERIFY(away->value(QStringLiteral("photo")).isString());
    QVERIFY(away->value(QStringLiteral("photo")) != back->value(QStringLiteral("photo")));
    QVERIFY(!app.cameraCapture().isPondraMode.get());

    // A teammate's record pushed by the server reaches the state.
    QVERIFY(server.command(QStringLiteral("putRecord"),
                           {{QStringLiteral("record"),
                             QJsonObject{{QStringLiteral("id"), QStringLiteral("B2")},
                                         {QStringLiteral("name"), QStringLiteral("Bo")},
                                         {QStringLiteral("team"), QStringLiteral("Blue")},
                                         {QStringLiteral("isPondra"), true},
                                         {QStringLiteral("isIdle"), false},
                                         {QStringLiteral("idleState"), QStringLiteral("active")},
                                         {QStringLiteral("idleSeconds"), 12},
                                         {QStringLiteral("status"), QStringLiteral("Coding")},
                                         {QStringLiteral("lastUpdate"), QStringLiteral("2026-01-05T11:59:00Z")}}}}));
    const auto teammate = [&]() -> std::optional<RemoteUser> {
        for (const RemoteUser& user : app.remoteUsers.get()) {
            if (user.id == QLatin1String("B2"))
                return user;
        }
        return std::nullopt;
    };
    QVERIFY(test::TeamServerProcess::pumpUntil([&] { return teammate().has_value(); }));
    QCOMPARE(teammate()->name, QStringLiteral("Bo"));
    QCOMPARE(teammate()->isPondra, true);
    QCOMPARE(app.remoteUsers.get().size(), 2);
}

QTEST_GUILESS_MAIN(TestAppStateEndToEnd)
#include "tst_appstate_e2e.moc"
