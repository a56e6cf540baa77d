#pragma once

// The application state wired to fakes of every backend, on virtual time,
// as the state's own tests and the windows' tests use it.
#include "app/AppState.h"
#include "platform/audio/FakeAudioDeviceSource.h"
#include "platform/camera/FakeCameraBackend.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/idle/FakeIdleSource.h"
#include "platform/meeting/FakeMeetingSignals.h"
#include "platform/notify/FakeNotifier.h"
#include "platform/session/FakeSessionEvents.h"
#include "platform/sound/FakeSoundPlayer.h"
#include "platform/urlopener/FakeUrlOpener.h"
#include "platform/websocket/FakeWebSocket.h"

#include "TestEnvironment.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

namespace pondra::test {

/// A photo with detail, so that its pixelated copy differs from it.
inline QImage detailedFrame(int shade)
{
    QImage image(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(shade, (x * 7) % 256, (y * 13) % 256));
    }
    return image;
}

/// One line as the now-playing helper prints it.
inline QByteArray nowPlayingLine(bool playing, const QString& title, const QString& artist)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("playing"), playing},
                                     {QStringLiteral("title"), title},
                                     {QStringLiteral("artist"), artist},
                                     {QStringLiteral("album"), QString()}})
        .toJson(QJsonDocument::Compact);
}

/// The state with fakes behind every service. The user is "Ana" of team "Blue".
struct AppRig
{
    ScopedXdgHome home;
    VirtualScheduler scheduler;
    std::shared_ptr<SettingsStore> store = std::make_shared<SettingsStore>();
    std::shared_ptr<FakeNotifier> notifier = std::make_shared<FakeNotifier>();
    std::shared_ptr<FakeFaceAnalyser> faces = std::make_shared<FakeFaceAnalyser>();
    std::shared_ptr<FakeAudioDeviceSource> audio = std::make_shared<FakeAudioDeviceSource>();
    std::shared_ptr<FakeMeetingSignals> meeting = std::make_shared<FakeMeetingSignals>();
    std::shared_ptr<FakeHttpClient> http = std::make_shared<FakeHttpClient>();
    std::shared_ptr<FakeWebSocketFactory> sockets = std::make_shared<FakeWebSocketFactory>();
    std::shared_ptr<FakePathMonitor> path = std::make_shared<FakePathMonitor>();
    FakeSoundPlayer sound;
    FakeUrlOpener opener;
    FakeIdleSource* idle = nullptr;
    FakeCameraBackend* camera = nullptr;
    FakeSessionEvents* session = nullptr;
    QString awayFolder = home.path() + QStringLiteral("/away");
    /// What the stub now-playing helper prints.
    QString nowPlayingFile = home.path() + QStringLiteral("/now-playing.json");
    std::unique_ptr<AppState> app;
    /// Requests answered, requests looked at, and the steps pending after the last settling round.
    int answered = 0;
    int seen = 0;
    int pendingAfterLastRound = -1;

    AppRig()
    {
        store->setText(QStringLiteral("userName"), QStringLiteral("Ana"));
        store->setText(QStringLiteral("teamName"), QStringLiteral("Blue"));
        faces->quality = [](const QImage&) { return 0.9f; };
        setNowPlaying(false, {}, {});
    }

    void setNowPlaying(bool playing, const QString& title, const QString& artist)
    {
        QFile file(nowPlayingFile);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(nowPlayingLine(playing, title, artist));
    }

    /// `withPlayer` false: no helper script at all.
    void build(bool withPlayer = false)
    {
        AppBackends backends;
        backends.scheduler = &scheduler;
        backends.settings = store;
        backends.notifier = notifier;
        auto idleSource = std::make_unique<FakeIdleSource>();
        idleSource->reading = 0.0;
        idle = idleSource.get();
        backends.idleSource = std::move(idleSource);
        auto cameraBackend = std::make_unique<FakeCameraBackend>(scheduler);
        cameraBackend->list = {{QStringLiteral("cam-1"), QStringLiteral("Built-in Camera")}};
        camera = cameraBackend.get();
        backends.camera = std::move(cameraBackend);
        backends.faces = faces;
        backends.awayPhotoFolder = awayFolder;
        backends.audio = audio;
        backends.meeting = meeting;
        backends.nowPlayingInterpreter = QStringLiteral("/bin/sh");
        if (withPlayer) {
            const QString script = home.path() + QStringLiteral("/now-playing.sh");
            QFile file(script);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("cat \"" + nowPlayingFile.toUtf8() + "\"\n");
            backends.nowPlayingScript = script;
        } else {
            backends.nowPlayingScript = home.path() + QStringLiteral("/no-such-helper.sh");
            QTest::ignoreMessage(
                QtCriticalMsg,
                qPrintable(QStringLiteral("MediaRemote helper not found at: ") + *backends.nowPlayingScript));
        }
        auto events = std::make_unique<FakeSessionEvents>();
        session = events.get();
        backends.sessionEvents = std::move(events);
        backends.network = {http, sockets, path, &scheduler};
        backends.rings = {http.get(), &sound, &opener, &scheduler};
        app = std::make_unique<AppState>(std::move(backends));
        if (withPlayer)
            QTRY_VERIFY(!app->nowPlayingMonitor().isHelperRunning());
    }

    static bool isUpdate(const FakeHttpClient::Request& r)
    {
        return r.method == "POST" && r.url.path() == QLatin1String("/pondra/update");
    }

    /// Runs what is due now and answers every upload, until nothing new comes.
    void settle()
    {
        for (int round = 0; round < 10; ++round) {
            scheduler.runPending();
            auto& requests = http->requests();
            if (answered == requests.size() && scheduler.pendingCount() == pendingAfterLastRound)
                return;
            pendingAfterLastRound = scheduler.pendingCount();
            for (; answered < requests.size(); ++answered) {
                if (isUpdate(requests[answered]))
                    http->answer(answered, 200, "{\"ok\":true}");
            }
        }
    }

    /// The records uploaded since the last call.
    QList<QJsonObject> newUploads()
    {
        settle();
        QList<QJsonObject> out;
        const auto& requests = http->requests();
        for (; seen < requests.size(); ++seen) {
            if (isUpdate(requests[seen]))
                out << QJsonDocument::fromJson(requests[seen].body).object();
        }
        return out;
    }

    /// A whole capture run (burst, one good frame); the user is present after it.
    void capture(bool manual = false)
    {
        app->cameraCapture().capturePondra(manual);
        scheduler.advance(std::chrono::milliseconds(500));
        QVERIFY(camera->lastSession);
        camera->lastSession->deliverFrame(detailedFrame(40 + camera->sessionsOpened));
        scheduler.advance(std::chrono::milliseconds(1500));
        QTRY_VERIFY(!app->cameraCapture().isCapturing());
    }
};

} // namespace pondra::test
