#include "capture/CameraCapture.h"
#include "platform/camera/FakeCameraBackend.h"
#include "platform/camera/QtCameraBackend.h"

#include "TestEnvironment.h"

#include <QtTest>

#include <mutex>

#include <sys/stat.h>

using namespace pondra;
using namespace std::chrono_literals;

namespace {

// Frames carry their number in the red channel, so the fake analyser and the
// published photo tell which frame they came from.
QImage frame(int number, QSize size = QSize(640, 480))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(qRgb(number, 100, 50));
    return image;
}

int numberOf(const QImage& image)
{
    return qRed(image.pixel(image.width() / 2, image.height() / 2));
}

// When the camera's first frame arrives (its start answer) after the session
// was opened: every warm-up counts from it.
void firstFrameRows()
{
    QTest::addColumn<int>("firstFrameMs");
    QTest::newRow("first frame at once") << 0;
    QTest::newRow("first frame after 3 s") << 3000;
}

struct Fixture
{
    test::ScopedXdgHome home;
    VirtualScheduler scheduler;
    FakeCameraBackend* camera = nullptr;
    std::shared_ptr<FakeFaceAnalyser> analyser = std::make_shared<FakeFaceAnalyser>();
    std::shared_ptr<SettingsStore> settings =
        std::make_shared<SettingsStore>(home.path() + QStringLiteral("/settings.conf"));
    QString awayFolder = home.path() + QStringLiteral("/data/Pondra");
    std::unique_ptr<CameraCapture> capture;

    // Scores by frame number; -1 makes the analysis fail.
    std::map<int, float> scores;
    std::mutex mutex;
    std::vector<int> scored;

    explicit Fixture(QList<CameraIdentity> cameras = {
                         {QStringLiteral("cam-1"), QStringLiteral("Built-in Camera")}})
    {
        analyser->quality = [this](const QImage& image) {
            std::lock_guard lock(mutex);
            scored.push_back(numberOf(image));
            auto it = scores.find(numberOf(image));
            return it == scores.end() ? 0.0f : it->second;
        };
        analyser->failure = [this](const QImage& image) {
            std::lock_guard lock(mutex);
            auto it = scores.find(numberOf(image));
            return it != scores.end() && it->second < 0 ? QStringLiteral("analysis failed") : QString();
        };
        auto backend = std::make_unique<FakeCameraBackend>(scheduler);
        backend->list = std::move(cameras);
        camera = backend.get();
        makeCapture(std::move(backend));
    }

    void makeCapture(std::unique_ptr<CameraBackend> backend)
    {
        capture =
            std::make_unique<CameraCapture>(std::move(backend), analyser, scheduler, settings, awayFolder);
    }

    /// A whole burst run: warm-up, the given frames in the window, choice.
    void runBurst(const QList<QImage>& frames, bool manual = false)
    {
        capture->capturePondra(manual);
        scheduler.advance(500ms);
        for (const QImage& f : frames)
            camera->lastSession->deliverFrame(f);
        scheduler.advance(1500ms);
        QTRY_VERIFY(!capture->isCapturing());
    }
};

} // namespace

class TestCameraCapture final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void freshInstanceAndSettings();
    void cameraList();
    void cameraSelection_data();
    void cameraSelection();
    void stableCameraIds_data();
    void stableCameraIds();
    void noCameraWithoutGuiApplication();
    void burstCandidates_data();
    void burstCandidates();
    void burstChoice_data();
    void burstChoice();
    void burstWindowAndFailures();
    void burstWindowTimes_data();
    void burstWindowTimes();
    void singleFrame_data();
    void singleFrame();
    void stillWarmUp_data();
    void stillWarmUp();
    void lateStillIsIgnored();
    void singleOrBurstByUseBestPhoto();
    void presenceAfterRuns();
    void secondRequestDuringRun();
    void goingAwayDuringRun();
    void awayPhotoCache();
    void awayPhotoWriteFailure();
};

void TestCameraCapture::freshInstanceAndSettings()
{
    Fixture f;
    CameraCapture& c = *f.capture;
    QVERIFY(!c.capturedImage.get() && !c.pixelatedImage.get() && !c.photoTimestamp.get());
    QVERIFY(!c.faceDetected.get() && !c.isPondraMode.get() && !c.photoSkipped.get() && !c.isCapturing());
    QVERIFY(c.useBestPhoto());
    QCOMPARE(c.selectedCameraId(), QString());
    // The folder is made at start, even if no photo is ever saved.
    QVERIFY(QFileInfo(f.awayFolder).isDir());

    c.setUseBestPhoto(false);
    QVERIFY(!c.useBestPhoto());
    f.settings->setText(QStringLiteral("useBestPhoto"), QStringLiteral("maybe"));
    QVERIFY(c.useBestPhoto());
    c.setSelectedCameraId(QStringLiteral("cam-1"));
    QCOMPARE(c.selectedCameraId(), QStringLiteral("cam-1"));
}

void TestCameraCapture::cameraList()
{
    Fixture f({{QStringLiteral("a"), QStringLiteral("A")}, {QStringLiteral("b"), QStringLiteral("B")}});
    QCOMPARE(f.capture->availableCameras.get(),
             (QList<CameraDevice>{{QStringLiteral("a"), QStringLiteral("A")},
                                  {QStringLiteral("b"), QStringLiteral("B")}}));
    QVERIFY(!(CameraDevice{QStringLiteral("a"), QStringLiteral("A")} ==
              CameraDevice{QStringLiteral("a"), QStringLiteral("Other")}));
    int published = 0;
    auto sub =
        f.capture->availableCameras.subscribe(nullptr, [&](const QList<CameraDevice>&) { ++published; });
    f.capture->refreshCameraList();
    f.capture->refreshCameraList();
    QCOMPARE(published, 3);
    f.camera->list.clear();
    f.capture->refreshCameraList();
    QVERIFY(f.capture->availableCameras.get().isEmpty());
}

void TestCameraCapture::cameraSelection_data()
{
    QTest::addColumn<QString>("selected");
    QTest::addColumn<bool>("haveCameras");
    QTest::addColumn<QString>("usedName"); // empty: no camera

    QTest::newRow("empty setting: default") << QString() << true << QStringLiteral("Default Cam");
    QTest::newRow("chosen camera") << QStringLiteral("usb-2") << true << QStringLiteral("USB Cam");
    QTest::newRow("unplugged camera: default")
        << QStringLiteral("gone") << true << QStringLiteral("Default Cam");
    QTest::newRow("no camera at all") << QString() << false << QString();
}

void TestCameraCapture::cameraSelection()
{
    QFETCH(QString, selected);
    QFETCH(bool, haveCameras);
    QFETCH(QString, usedName);
    QList<CameraIdentity> cameras;
    if (haveCameras)
        cameras = {{QStringLiteral("usb-2"), QStringLiteral("USB Cam")},
                   {QStringLiteral("built-in"), QStringLiteral("Default Cam")}};
    Fixture f(cameras);
    f.camera->defaultId = haveCameras ? QStringLiteral("built-in") : QStringLiteral("none");
    f.capture->setSelectedCameraId(selected);
    if (usedName.isEmpty()) {
        QTest::ignoreMessage(QtCriticalMsg, "No camera available");
    } else {
        QTest::ignoreMessage(QtInfoMsg,
                             qPrintable(QStringLiteral("Using camera: %1 (burst mode)").arg(usedName)));
        QTest::ignoreMessage(QtCriticalMsg, "No frames captured in burst");
    }
    f.runBurst({});
    QCOMPARE(f.camera->sessionsOpened, usedName.isEmpty() ? 0 : 1);
    QVERIFY(f.capture->isPondraMode.get());
}

void TestCameraCapture::stableCameraIds_data()
{
    // The cameras as the system lists them before and after a replug or a
    // reboot, and the camera chosen before: the identifier stored for it
    // names the same camera afterwards, or none when it is gone.
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<int>("chosen");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("found"); // -1: not connected

    const QString a = QStringLiteral("HD Webcam"), b = QStringLiteral("Integrated Camera"),
                  c = QStringLiteral("Desk Camera");
    QTest::newRow("same list") << QStringList{a, b} << 1 << QStringList{a, b} << 1;
    QTest::newRow("reordered") << QStringList{a, b, c} << 0 << QStringList{c, b, a} << 2;
    QTest::newRow("another camera unplugged") << QStringList{a, b, c} << 2 << QStringList{c} << 0;
    QTest::newRow("the chosen camera unplugged") << QStringList{a, b} << 0 << QStringList{b} << -1;
    QTest::newRow("a camera added in front") << QStringList{b} << 0 << QStringList{c, a, b} << 2;
    QTest::newRow("two of a kind: the second") << QStringList{a, b, a} << 2 << QStringList{b, a, a} << 2;
    QTest::newRow("two of a kind: the first, after the other camera left")
        << QStringList{a, b, a} << 0 << QStringList{a, a} << 0;
    QTest::newRow("nameless cameras")
        << QStringList{QString(), QString()} << 1 << QStringList{QString(), b, QString()} << 2;
    QTest::newRow("a name that looks numbered") << QStringList{a, a + QStringLiteral(" #2"), a} << 2
                                                << QStringList{a, a + QStringLiteral(" #2"), a} << 2;
}

void TestCameraCapture::stableCameraIds()
{
    QFETCH(QStringList, before);
    QFETCH(int, chosen);
    QFETCH(QStringList, after);
    QFETCH(int, found);
    const QStringList idsBefore = pondra::stableCameraIds(before);
    const QStringList idsAfter = pondra::stableCameraIds(after);
    QCOMPARE(QSet<QString>(idsBefore.begin(), idsBefore.end()).size(), idsBefore.size());
    QCOMPARE(QSet<QString>(idsAfter.begin(), idsAfter.end()).size(), idsAfter.size());
    QVERIFY(!idsBefore.contains(QString()));
    QCOMPARE(idsAfter.indexOf(idsBefore.at(chosen)), found);

    // Through the capture: the stored choice opens that camera, or the
    // default one (the first) when it is gone.
    QList<CameraIdentity> cameras;
    for (qsizetype i = 0; i < after.size(); ++i)
        cameras.push_back({idsAfter.at(i), after.at(i)});
    Fixture f(cameras);
    f.capture->setSelectedCameraId(idsBefore.at(chosen));
    f.capture->capturePondra();
    QVERIFY(f.camera->lastSession);
    QCOMPARE(f.camera->lastSession->camera.id, idsAfter.at(std::max(found, 0)));
    f.scheduler.advance(2s);
    QTRY_VERIFY(!f.capture->isCapturing());
}

void TestCameraCapture::noCameraWithoutGuiApplication()
{
    // Qt turns camera frames into images with the graphics stack, which a
    // plain QCoreApplication lacks: no camera rather than a crash.
    QTest::ignoreMessage(QtCriticalMsg, "No camera: the camera needs a graphical application");
    auto backend = std::make_unique<QtCameraBackend>();
    QVERIFY(backend->cameras().isEmpty());
    QVERIFY(!backend->defaultCamera());
    Fixture f;
    f.makeCapture(std::move(backend));
    f.camera = nullptr;
    QVERIFY(f.capture->availableCameras.get().isEmpty());
    QTest::ignoreMessage(QtCriticalMsg, "No camera available");
    f.capture->capturePondra(true);
    QVERIFY(!f.capture->isCapturing());
    QVERIFY(f.capture->photoSkipped.get() && f.capture->isPondraMode.get());
}

void TestCameraCapture::burstCandidates_data()
{
    QTest::addColumn<int>("frames");
    QTest::addColumn<QList<int>>("positions");
    QTest::newRow("1") << 1 << QList<int>{0};
    QTest::newRow("3") << 3 << QList<int>{0, 1, 2};
    QTest::newRow("5") << 5 << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("6") << 6 << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("10") << 10 << QList<int>{0, 2, 4, 6, 8};
    QTest::newRow("45") << 45 << QList<int>{0, 9, 18, 27, 36};
    // Only the first 240 frames are kept: 240 / 5 = 48.
    QTest::newRow("300") << 300 << QList<int>{0, 48, 96, 144, 192};
}

void TestCameraCapture::burstCandidates()
{
    QFETCH(int, frames);
    QFETCH(QList<int>, positions);
    Fixture f;
    QList<QImage> list;
    for (int i = 0; i < frames; ++i)
        list.push_back(frame(i % 256, QSize(8, 8)));
    QTest::ignoreMessage(
        QtInfoMsg,
        qPrintable(QStringLiteral("Scoring %1 burst frames for face quality").arg(positions.size())));
    for (int i = 0; i < positions.size(); ++i)
        QTest::ignoreMessage(QtInfoMsg, qPrintable(QStringLiteral("Frame %1: quality score 0.000").arg(i)));
    QTest::ignoreMessage(QtInfoMsg, "Best score 0.000 below minimum 0.400, skipping update");
    QTest::ignoreMessage(QtInfoMsg, "No frame met quality threshold, skipping photo update");
    f.runBurst(list);
    QCOMPARE(QList<int>(f.scored.begin(), f.scored.end()), positions);
    QVERIFY(!f.capture->capturedImage.get());
    QVERIFY(f.camera->lastSession == nullptr); // torn down
}

void TestCameraCapture::burstChoice_data()
{
    QTest::addColumn<QList<float>>("scores"); // -1: the analysis fails
    QTest::addColumn<int>("chosen");          // -1: none
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("0.400 is enough") << QList<float>{0.4f} << 0
                                     << QStringList{"Frame 0: quality score 0.400",
                                                    "Selected best frame with quality score 0.400"};
    QTest::newRow("0.399 is not") << QList<float>{0.399f} << -1
                                  << QStringList{"Frame 0: quality score 0.399",
                                                 "Best score 0.399 below minimum 0.400, skipping update"};
    QTest::newRow("earliest of a tie")
        << QList<float>{0.6f, 0.8f, 0.8f} << 1
        << QStringList{"Frame 2: quality score 0.800", "Selected best frame with quality score 0.800"};
    QTest::newRow("later frames still scored")
        << QList<float>{0.9f, 0.2f} << 0
        << QStringList{"Frame 1: quality score 0.200", "Selected best frame with quality score 0.900"};
    QTest::newRow("failed analysis counts 0")
        << QList<float>{0.5f, -1.0f, 0.7f} << 2
        << QStringList{"Face quality scoring failed: analysis failed", "Frame 1: quality score 0.000",
                       "Selected best frame with quality score 0.700"};
}

void TestCameraCapture::burstChoice()
{
    QFETCH(QList<float>, scores);
    QFETCH(int, chosen);
    QFETCH(QStringList, lines);
    Fixture f;
    QList<QImage> frames;
    for (int i = 0; i < scores.size(); ++i) {
        f.scores[10 + i] = scores[i];
        frames.push_back(frame(10 + i));
    }
    for (const QString& line : lines)
        QTest::ignoreMessage(line.startsWith(QLatin1String("Face quality")) ? QtCriticalMsg : QtInfoMsg,
                             qPrintable(line));
    f.runBurst(frames, true);
    // Every frame is rated (a failed analysis never reaches the scorer).
    QCOMPARE(f.scored.size(),
             std::size_t(std::count_if(scores.begin(), scores.end(), [](float s) { return s >= 0; })));
    if (chosen < 0) {
        QVERIFY(!f.capture->capturedImage.get());
        QVERIFY(f.capture->photoSkipped.get());
    } else {
        QVERIFY(f.capture->capturedImage.get());
        QCOMPARE(numberOf(*f.capture->capturedImage.get()), 10 + chosen);
        QCOMPARE(f.capture->capturedImage.get()->size(), QSize(240, 240));
        QVERIFY(!f.capture->photoSkipped.get());
    }
    QVERIFY(f.capture->isPondraMode.get());
}

void TestCameraCapture::burstWindowAndFailures()
{
    {
        // Frames before the window opens or after it closes are not kept.
        Fixture f;
        f.scores[1] = 0.9f;
        f.scores[2] = 0.5f;
        f.capture->capturePondra();
        f.scheduler.advance(100ms);
        f.camera->lastSession->deliverFrame(frame(1)); // warm-up
        f.scheduler.advance(400ms);
        f.camera->lastSession->deliverFrame(frame(2));
        f.scheduler.advance(1500ms);
        QTRY_VERIFY(!f.capture->isCapturing());
        QCOMPARE(f.scored, std::vector<int>{2});
        QCOMPARE(numberOf(*f.capture->capturedImage.get()), 2);
    }
    {
        // A camera that does not start delivers nothing: no frames, at once.
        Fixture f;
        f.camera->startAnswer = FakeCameraBackend::Answer::No;
        QTest::ignoreMessage(QtCriticalMsg, "No frames captured in burst");
        f.capture->capturePondra(true);
        f.scheduler.runPending();
        QVERIFY(!f.capture->isCapturing());
        QVERIFY(f.capture->photoSkipped.get());
    }
    {
        // A camera that never answers ends the run after 10 s.
        Fixture f;
        f.camera->startAnswer = FakeCameraBackend::Answer::Never;
        QTest::ignoreMessage(QtCriticalMsg, "No frames captured in burst");
        f.capture->capturePondra();
        f.scheduler.advance(9999ms);
        QVERIFY(f.capture->isCapturing());
        f.scheduler.advance(1ms);
        QVERIFY(!f.capture->isCapturing());
        QVERIFY(f.capture->isPondraMode.get());
    }
    {
        Fixture f;
        f.camera->openError = QStringLiteral("device busy");
        QTest::ignoreMessage(QtCriticalMsg, "Failed to setup camera: device busy");
        f.capture->capturePondra();
        QVERIFY(!f.capture->isCapturing());
        QCOMPARE(f.camera->sessionsOpened, 0);
    }
}

void TestCameraCapture::burstWindowTimes_data()
{
    // The window opens 0.5 s after the first frame and lasts 1.5 s.
    firstFrameRows();
}

void TestCameraCapture::burstWindowTimes()
{
    QFETCH(int, firstFrameMs);
    Fixture f;
    f.camera->startAnswer = FakeCameraBackend::Answer::Never;
    for (int n : {1, 2, 3, 4})
        f.scores[n] = 0.5f;
    f.capture->capturePondra();
    f.scheduler.advance(milliseconds(firstFrameMs));
    f.camera->lastSession->answerStart(true);
    // Frames at 499 and 2001 ms after the first frame fall outside.
    const QList<std::pair<int, int>> frames{{499, 1}, {500, 2}, {1999, 3}, {2001, 4}};
    int now = 0;
    for (const auto& [at, number] : frames) {
        f.scheduler.advance(milliseconds(at - now));
        now = at;
        QVERIFY(f.camera->lastSession);
        f.camera->lastSession->deliverFrame(frame(number));
    }
    QTRY_VERIFY(!f.capture->isCapturing());
    QCOMPARE(f.scored, (std::vector<int>{2, 3}));
}

void TestCameraCapture::singleFrame_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<bool>("stillOutput");
    QTest::addColumn<int>("still");
    QTest::addColumn<bool>("photo");
    QTest::addColumn<QString>("error");
    using A = FakeCameraBackend::Answer;
    QTest::newRow("photo taken") << int(A::Yes) << true << int(A::Yes) << true << QString();
    QTest::newRow("camera not running") << int(A::No) << true << int(A::Yes) << false
                                        << QStringLiteral("Session not ready for photo capture, skipping");
    QTest::newRow("no photo output") << int(A::Yes) << false << int(A::Yes) << false
                                     << QStringLiteral("Session not ready for photo capture, skipping");
    QTest::newRow("camera never starts") << int(A::Never) << true << int(A::Yes) << false
                                         << QStringLiteral("Session not ready for photo capture, skipping");
    QTest::newRow("photo without image") << int(A::Yes) << true << int(A::No) << false << QString();
    QTest::newRow("photo never comes") << int(A::Yes) << true << int(A::Never) << false << QString();
}

void TestCameraCapture::singleFrame()
{
    QFETCH(int, start);
    QFETCH(bool, stillOutput);
    QFETCH(int, still);
    QFETCH(bool, photo);
    QFETCH(QString, error);
    Fixture f;
    f.capture->setUseBestPhoto(false);
    f.camera->startAnswer = FakeCameraBackend::Answer(start);
    f.camera->stillAnswer = FakeCameraBackend::Answer(still);
    f.camera->stillOutputConnected = stillOutput;
    f.camera->stillPhotos = {frame(7, QSize(1280, 720))};
    f.analyser->faces = [](const QImage&) {
        return std::vector<FaceBox>{{QRectF(540, 240, 200, 240), 0.9f}};
    };
    QTest::ignoreMessage(QtInfoMsg, "Using camera: Built-in Camera (single frame mode)");
    if (!error.isEmpty())
        QTest::ignoreMessage(QtCriticalMsg, qPrintable(error));
    f.capture->capturePondra(true);
    f.scheduler.advance(1500ms);
    QCOMPARE(f.camera->sessionsOpened, 1);
    // Every wait ends within 10 s.
    f.scheduler.advance(10s);
    f.scheduler.advance(10s);
    QTRY_VERIFY(!f.capture->isCapturing());
    QCOMPARE(bool(f.capture->capturedImage.get()), photo);
    QCOMPARE(f.capture->photoSkipped.get(), !photo);
    QCOMPARE(f.capture->faceDetected.get(), photo);
    QVERIFY(f.camera->lastSession == nullptr);
    if (photo)
        QCOMPARE(f.capture->capturedImage.get()->size(), QSize(240, 240));
}

void TestCameraCapture::stillWarmUp_data()
{
    firstFrameRows();
}

void TestCameraCapture::stillWarmUp()
{
    // The still photo is asked for 1.5 s after the camera's first frame.
    QFETCH(int, firstFrameMs);
    Fixture f;
    f.capture->setUseBestPhoto(false);
    f.camera->startAnswer = FakeCameraBackend::Answer::Never;
    f.camera->stillPhotos = {frame(7)};
    f.capture->capturePondra();
    f.scheduler.advance(milliseconds(firstFrameMs));
    auto* session = f.camera->lastSession;
    session->answerStart(true);
    f.scheduler.advance(1499ms);
    QCOMPARE(session->stillRequests, 0);
    f.scheduler.advance(1ms);
    QCOMPARE(session->stillRequests, 1);
    f.scheduler.runPending();
    QTRY_VERIFY(!f.capture->isCapturing());
    QCOMPARE(numberOf(*f.capture->capturedImage.get()), 7);
}

void TestCameraCapture::lateStillIsIgnored()
{
    // A still photo that comes after the 10 s limit finds the run ended.
    Fixture f;
    f.capture->setUseBestPhoto(false);
    f.camera->stillAnswer = FakeCameraBackend::Answer::Never;
    QTest::ignoreMessage(QtInfoMsg, "Using camera: Built-in Camera (single frame mode)");
    f.capture->capturePondra(true);
    f.scheduler.advance(1500ms);
    QCOMPARE(f.camera->lastSession->stillRequests, 1);
    f.scheduler.advance(9999ms);
    QVERIFY(f.capture->isCapturing());
    f.scheduler.advance(2ms);
    if (auto* session = f.camera->lastSession)
        session->answerStill(frame(7));
    QTRY_VERIFY(!f.capture->isCapturing());
    QVERIFY(!f.capture->capturedImage.get());
    QVERIFY(f.capture->photoSkipped.get());
}

void TestCameraCapture::singleOrBurstByUseBestPhoto()
{
    Fixture f;
    f.camera->stillPhotos = {frame(3)};
    f.capture->capturePondra();
    f.scheduler.runPending();
    QCOMPARE(f.camera->lastSession->mode, CameraMode::Video);
    f.scheduler.advance(2s);
    QTRY_VERIFY(!f.capture->isCapturing());
    f.capture->setUseBestPhoto(false);
    f.capture->capturePondra();
    f.scheduler.runPending();
    QCOMPARE(f.camera->lastSession->mode, CameraMode::Still);
    f.scheduler.advance(2s);
    QTRY_VERIFY(!f.capture->isCapturing());
    QCOMPARE(numberOf(*f.capture->capturedImage.get()), 3);
}

void TestCameraCapture::presenceAfterRuns()
{
    Fixture f;
    f.scores[5] = 0.9f;
    QStringList order;
    SubscriptionBag subs;
    subs.add(
        f.capture->photoSkipped.subscribe(nullptr, skipFirst<bool>([&](bool) { order << "photoSkipped"; })));
    subs.add(f.capture->capturedImage.subscribe(
        nullptr, skipFirst<std::optional<QImage>>([&](auto&) { order << "capturedImage"; })));
    subs.add(f.capture->pixelatedImage.subscribe(
        nullptr, skipFirst<std::optional<QImage>>([&](auto&) { order << "pixelatedImage"; })));
    subs.add(f.capture->photoTimestamp.subscribe(
        nullptr, skipFirst<std::optional<QDateTime>>([&](auto&) { order << "photoTimestamp"; })));
    subs.add(
        f.capture->isPondraMode.subscribe(nullptr, skipFirst<bool>([&](bool) { order << "isPondraMode"; })));

    // An automatic run without a photo: present, nothing skipped.
    f.runBurst({frame(1)});
    QCOMPARE(order, (QStringList{"photoSkipped", "isPondraMode"}));
    QVERIFY(f.capture->isPondraMode.get() && !f.capture->photoSkipped.get());

    // A good run: the sharp photo, its pixelated copy, the time.
    order.clear();
    f.runBurst({frame(5)});
    QCOMPARE(order, (QStringList{"photoSkipped", "capturedImage", "pixelatedImage", "photoTimestamp",
                                 "isPondraMode"}));
    const QImage sharp = *f.capture->capturedImage.get();
    const QImage pixelated = *f.capture->pixelatedImage.get();
    QCOMPARE(sharp.size(), QSize(240, 240));
    QCOMPARE(pixelated.size(), QSize(240, 240)); // 30 px cells fit 240 exactly
    QCOMPARE(f.capture->photoTimestamp.get(), f.scheduler.now());

    // A manual run without a photo keeps the photo and asks for a retry.
    f.runBurst({frame(1)}, true);
    QVERIFY(f.capture->photoSkipped.get());
    QCOMPARE(f.capture->capturedImage.get()->cacheKey(), sharp.cacheKey());
}

void TestCameraCapture::secondRequestDuringRun()
{
    Fixture f;
    f.capture->capturePondra();
    QVERIFY(f.capture->isCapturing());
    // The turned-away request assigns nothing: not even the notice's reset.
    int skippedAssignments = 0;
    auto watch = f.capture->photoSkipped.subscribe(nullptr, [&](const bool&) { ++skippedAssignments; });
    QTest::ignoreMessage(QtInfoMsg, "Capture already in progress, skipping");
    f.capture->capturePondra(true);
    QCOMPARE(skippedAssignments, 1);
    QCOMPARE(f.camera->sessionsOpened, 1);
    f.scheduler.advance(2s);
    QTRY_VERIFY(!f.capture->isCapturing());
}

void TestCameraCapture::goingAwayDuringRun()
{
    Fixture f;
    f.scores[5] = 0.9f;
    f.runBurst({frame(5)});
    const QImage before = *f.capture->capturedImage.get();

    // The screen locks (or the user goes away) while a new photo is taken:
    // the run must not bring the user back nor replace the away photo.
    f.capture->capturePondra(true);
    f.scheduler.advance(500ms);
    f.camera->lastSession->deliverFrame(frame(5));
    f.capture->resetPondra();
    QVERIFY(!f.capture->isPondraMode.get());
    const QImage away = *f.capture->capturedImage.get();
    f.scheduler.advance(1500ms);
    QTRY_VERIFY(!f.capture->isCapturing());
    QVERIFY(!f.capture->isPondraMode.get());
    QVERIFY(!f.capture->photoSkipped.get());
    QCOMPARE(f.capture->capturedImage.get()->cacheKey(), away.cacheKey());
    QVERIFY(away.cacheKey() != before.cacheKey());

    // The next run works as usual.
    f.runBurst({frame(5)});
    QVERIFY(f.capture->isPondraMode.get());
}

void TestCameraCapture::awayPhotoCache()
{
    Fixture f;
    const QString path = f.awayFolder + QStringLiteral("/away-photo.jpg");
    // Never captured: going away writes nothing.
    f.capture->resetPondra();
    QVERIFY(!QFile::exists(path));
    QVERIFY(!f.capture->capturedImage.get());

    f.scores[5] = 0.9f;
    f.runBurst({frame(5)});
    QTest::ignoreMessage(QtInfoMsg, "Saved away photo to cache");
    f.capture->resetPondra();
    QCOMPARE(f.capture->capturedImage.get()->cacheKey(), f.capture->pixelatedImage.get()->cacheKey());
    QVERIFY(QFile::exists(path));
    QCOMPARE(QImage(path).size(), QSize(240, 240));
    // Written whole through a temporary file: nothing else is left beside it.
    QCOMPARE(QDir(f.awayFolder).entryList(QDir::Files), QStringList{QStringLiteral("away-photo.jpg")});

    // The next photo replaces the file whole (a new file moved into place):
    // a reader of the old one never sees it half-written.
    const auto inode = [&] {
        struct stat st = {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    QFile reader(path);
    QVERIFY(reader.open(QIODevice::ReadOnly));
    const QByteArray before = reader.peek(1 << 20);
    const ino_t first = inode();
    f.scores[200] = 0.9f;
    f.runBurst({frame(200)});
    QTest::ignoreMessage(QtInfoMsg, "Saved away photo to cache");
    f.capture->resetPondra();
    QVERIFY(inode() != first);
    QCOMPARE(reader.readAll(), before);
    QVERIFY(numberOf(QImage(path)) > 150);

    // A restart starts away with the cached photo, published once.
    QTest::ignoreMessage(QtInfoMsg, "Loaded cached away photo");
    auto backend = std::make_unique<FakeCameraBackend>(f.scheduler);
    CameraCapture again(std::move(backend), f.analyser, f.scheduler, f.settings, f.awayFolder);
    QVERIFY(again.capturedImage.get() && again.pixelatedImage.get());
    QCOMPARE(again.capturedImage.get()->size(), QSize(240, 240));
    QVERIFY(!again.isPondraMode.get());
    QVERIFY(!again.photoTimestamp.get());
    int published = 0;
    auto sub = again.capturedImage.subscribe(nullptr, [&](const auto&) { ++published; });
    f.scheduler.advance(1s);
    QCoreApplication::processEvents();
    QCOMPARE(published, 1);

    // An unreadable cache file starts without a photo, silently.
    QFile broken(path);
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("not a jpeg");
    broken.close();
    CameraCapture third(std::make_unique<FakeCameraBackend>(f.scheduler), f.analyser, f.scheduler, f.settings,
                        f.awayFolder);
    QVERIFY(!third.capturedImage.get());
}

void TestCameraCapture::awayPhotoWriteFailure()
{
    Fixture f;
    f.scores[5] = 0.9f;
    f.runBurst({frame(5)});
    // A folder where the file should be makes the write fail.
    QVERIFY(QDir().mkpath(f.awayFolder + QStringLiteral("/away-photo.jpg")));
    QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Failed to save away photo: .+")));
    f.capture->resetPondra();
    QVERIFY(f.capture->capturedImage.get());
    QVERIFY(!f.capture->isPondraMode.get());
}

QTEST_GUILESS_MAIN(TestCameraCapture)
#include "tst_camera_capture.moc"
