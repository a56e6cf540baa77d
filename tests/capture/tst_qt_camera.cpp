// The real camera path: Qt Multimedia on GStreamer with the test cameras of
// tests/gstcamera (found through GST_PLUGIN_PATH), the real face analyser, a
// QGuiApplication as the program has.
#include "capture/CameraCapture.h"
#include "platform/camera/QtCameraBackend.h"

#include "TestEnvironment.h"

#include <QCameraDevice>
#include <QMediaDevices>
#include <QtTest>

using namespace pondra;
using namespace std::chrono_literals;

namespace {

const QString portraitName = QStringLiteral("Test Portrait Camera");
const QString patternName = QStringLiteral("Test Pattern Camera");

struct TestCamera
{
    QString key, name, caps, pipeline;
    bool isDefault = false;
};

QString rawCaps(const QList<QSize>& sizes, int fps = 30)
{
    QStringList caps;
    for (const QSize& size : sizes)
        caps << QStringLiteral("video/x-raw,format=I420,width=%1,height=%2,framerate=%3/1")
                    .arg(size.width())
                    .arg(size.height())
                    .arg(fps);
    return caps.join(QLatin1Char(';'));
}

QList<TestCamera> allCameras()
{
    const QString photo = test::testDataPath(QStringLiteral("grace_hopper.jpg"));
    // Scaled into the frame asked for with its proportions kept (borders
    // added), as a camera's picture keeps them.
    const QString scaled = QStringLiteral(
        " ! videoscale add-borders=true ! video/x-raw,pixel-aspect-ratio=1/1 ! videoconvert ! videorate");
    const QString freeze = QStringLiteral(" ! imagefreeze is-live=true");
    return {
        // A portrait, as a webcam offering VGA, 720p and 1080p.
        {QStringLiteral("portrait"), portraitName, rawCaps({{640, 480}, {1280, 720}, {1920, 1080}}),
         QStringLiteral("multifilesrc location=\"%1\" num-buffers=1 caps=image/jpeg,framerate=30/1 ! jpegdec")
                 .arg(photo) +
             freeze + scaled},
        // No face; the system's default camera, so Qt lists it first.
        {QStringLiteral("pattern"), patternName, rawCaps({{640, 480}}),
         QStringLiteral("videotestsrc is-live=true") + scaled, true},
        // Another camera of the same name.
        {QStringLiteral("pattern-2"), patternName, rawCaps({{640, 480}}),
         QStringLiteral("videotestsrc is-live=true pattern=ball") + scaled},
        {QStringLiteral("4k-and-vga"), QStringLiteral("Test 4K Camera"),
         rawCaps({{3840, 2160}, {640, 480}}, 5), QStringLiteral("videotestsrc is-live=true") + scaled},
        {QStringLiteral("4k-only"), QStringLiteral("Test 4K-only Camera"), rawCaps({{3840, 2160}}, 5),
         QStringLiteral("videotestsrc is-live=true pattern=solid-color") + scaled},
        // Busy or broken: the source fails as the pipeline starts.
        {QStringLiteral("failing"), QStringLiteral("Test Failing Camera"), rawCaps({{640, 480}}),
         QStringLiteral("filesrc location=/nonexistent/pondra-camera ! jpegdec ! videoconvert")},
        // Starts, and never delivers a frame.
        {QStringLiteral("silent"), QStringLiteral("Test Silent Camera"), rawCaps({{640, 480}}),
         QStringLiteral("videotestsrc is-live=true ! valve drop=true ! videoconvert")},
    };
}

} // namespace

class TestQtCamera final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cameraList();
    void frameSizes_data();
    void frameSizes();
    void capture_data();
    void capture();
    void deadCamera_data();
    void deadCamera();
    void replugKeepsTheChoice();

private:
    void writeCameras(const QList<TestCamera>& cameras);
    std::unique_ptr<CameraCapture> makeCapture(Scheduler& scheduler, const QString& cameraId);

    QTemporaryDir m_dir;
    test::ScopedXdgHome m_home;
    std::shared_ptr<SettingsStore> m_settings;
};

void TestQtCamera::writeCameras(const QList<TestCamera>& cameras)
{
    QSaveFile file(m_dir.filePath(QStringLiteral("cameras.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QTextStream out(&file);
    for (const TestCamera& c : cameras)
        out << '[' << c.key << "]\nname=" << c.name << "\ncaps=" << c.caps << "\npipeline=" << c.pipeline
            << "\npath=/dev/pondra-test/" << c.key << "\ndefault=" << (c.isDefault ? "true" : "false")
            << "\n\n";
    out.flush();
    QVERIFY(file.commit());
}

void TestQtCamera::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("GST_PLUGIN_PATH"),
             "run through ctest: the test cameras need GST_PLUGIN_PATH");
    writeCameras(allCameras());
    qputenv("PONDRA_TEST_CAMERAS", QFile::encodeName(m_dir.filePath(QStringLiteral("cameras.ini"))));
    m_settings = std::make_shared<SettingsStore>(m_home.path() + QStringLiteral("/settings.conf"));
}

std::unique_ptr<CameraCapture> TestQtCamera::makeCapture(Scheduler& scheduler, const QString& cameraId)
{
    auto capture =
        std::make_unique<CameraCapture>(std::make_unique<QtCameraBackend>(), makeDefaultFaceAnalyser(),
                                        scheduler, m_settings, m_home.path() + QStringLiteral("/Pondra"));
    capture->setSelectedCameraId(cameraId);
    return capture;
}

void TestQtCamera::cameraList()
{
    QtCameraBackend backend;
    QVERIFY(!backend.cameras().isEmpty());
    // Qt 6.4 lists cameras again as it handles their announcements: still
    // one entry each.
    QTest::qWait(300);
    QStringList names, ids;
    for (const CameraIdentity& camera : backend.cameras())
        names << camera.name, ids << camera.id;
    // Qt lists the default camera first, then the others as found.
    QCOMPARE(names, (QStringList{patternName, portraitName, patternName, QStringLiteral("Test 4K Camera"),
                                 QStringLiteral("Test 4K-only Camera"), QStringLiteral("Test Failing Camera"),
                                 QStringLiteral("Test Silent Camera")}));
    QCOMPARE(ids.mid(0, 3), (QStringList{patternName, portraitName, patternName + QStringLiteral(" #2")}));
    QCOMPARE(backend.defaultCamera()->id, patternName);
    QCOMPARE(backend.camera(portraitName)->name, portraitName);
    QVERIFY(!backend.camera(QStringLiteral("0")));
}

void TestQtCamera::frameSizes_data()
{
    QTest::addColumn<QString>("camera");
    QTest::addColumn<QSize>("size");
    // The largest format of at most 1280×720 is asked for where the camera
    // offers one; larger frames are scaled down.
    QTest::newRow("VGA, 720p and 1080p: 720p") << portraitName << QSize(1280, 720);
    QTest::newRow("4K and VGA: VGA") << QStringLiteral("Test 4K Camera") << QSize(640, 480);
    QTest::newRow("4K only: scaled to 720p") << QStringLiteral("Test 4K-only Camera") << QSize(1280, 720);
}

void TestQtCamera::frameSizes()
{
    QFETCH(QString, camera);
    QFETCH(QSize, size);
    QtCameraBackend backend;
    QObject context;
    QString error;
    const auto identity = backend.camera(camera);
    QVERIFY(identity);

    // Burst frames.
    auto video = backend.openSession(*identity, CameraMode::Video, &error);
    QVERIFY2(video, qPrintable(error));
    std::optional<bool> started;
    QImage frame;
    video->setFrameHandler(&context, [&](const QImage& f) {
        if (frame.isNull())
            frame = f;
    });
    video->start(&context, [&](bool running) { started = running; });
    QTRY_VERIFY_WITH_TIMEOUT(!frame.isNull(), 20000);
    QCOMPARE(started, std::optional(true));
    QVERIFY(video->isRunning());
    QCOMPARE(frame.size(), size);
    video->stop();

    // The still photo.
    auto still = backend.openSession(*identity, CameraMode::Still, &error);
    QVERIFY2(still, qPrintable(error));
    started.reset();
    still->start(&context, [&](bool running) { started = running; });
    QTRY_VERIFY_WITH_TIMEOUT(started.has_value(), 20000);
    QVERIFY(*started);
    QTRY_VERIFY(still->canTakeStill());
    std::optional<std::optional<QImage>> photo;
    still->takeStill(&context, [&](std::optional<QImage> p) { photo = std::move(p); });
    QTRY_VERIFY_WITH_TIMEOUT(photo.has_value(), 20000);
    QVERIFY(photo->has_value());
    QCOMPARE((*photo)->size(), size);
    still->stop();
}

void TestQtCamera::capture_data()
{
    QTest::addColumn<QString>("camera");
    QTest::addColumn<bool>("burst");
    QTest::addColumn<bool>("photo");
    QTest::addColumn<bool>("face");
    QTest::newRow("portrait, burst") << portraitName << true << true << true;
    QTest::newRow("portrait, single frame") << portraitName << false << true << true;
    // No face: the burst finds no frame good enough; the still photo is
    // cropped to its centre.
    QTest::newRow("pattern, burst") << patternName << true << false << false;
    QTest::newRow("pattern, single frame") << patternName << false << true << false;
}

void TestQtCamera::capture()
{
    QFETCH(QString, camera);
    QFETCH(bool, burst);
    QFETCH(bool, photo);
    QFETCH(bool, face);
    auto capture = makeCapture(RealScheduler::instance(), camera);
    capture->setUseBestPhoto(burst);
    QTest::ignoreMessage(QtInfoMsg,
                         qPrintable(QStringLiteral("Using camera: %1 (%2)")
                                        .arg(camera, burst ? QStringLiteral("burst mode")
                                                           : QStringLiteral("single frame mode"))));
    if (burst && !photo)
        QTest::ignoreMessage(QtInfoMsg, "No frame met quality threshold, skipping photo update");
    capture->capturePondra(true);
    QTRY_VERIFY_WITH_TIMEOUT(!capture->isCapturing(), 60000);
    QCOMPARE(capture->photoSkipped.get(), !photo);
    QVERIFY(capture->isPondraMode.get());
    QCOMPARE(bool(capture->capturedImage.get()), photo);
    if (photo) {
        // The square around the face, widened to whole pixels.
        const QSize size = capture->capturedImage.get()->size();
        QVERIFY2(size.height() == 240 && std::abs(size.width() - 240) <= 2,
                 qPrintable(QDebug::toString(size)));
        QCOMPARE(capture->faceDetected.get(), face);
    }
}

void TestQtCamera::deadCamera_data()
{
    QTest::addColumn<QString>("camera");
    QTest::addColumn<bool>("burst");
    QTest::addColumn<bool>("fails"); // an error at once; else silence until the time limit
    QTest::addColumn<QString>("line");
    const QString failing = QStringLiteral("Test Failing Camera"),
                  silent = QStringLiteral("Test Silent Camera");
    const QString noFrames = QStringLiteral("No frames captured in burst");
    const QString notReady = QStringLiteral("Session not ready for photo capture, skipping");
    QTest::newRow("failing, burst") << failing << true << true << noFrames;
    QTest::newRow("failing, single frame") << failing << false << true << notReady;
    QTest::newRow("silent, burst") << silent << true << false << noFrames;
    QTest::newRow("silent, single frame") << silent << false << false << notReady;
}

void TestQtCamera::deadCamera()
{
    QFETCH(QString, camera);
    QFETCH(bool, burst);
    QFETCH(bool, fails);
    QFETCH(QString, line);
    VirtualScheduler scheduler;
    auto capture = makeCapture(scheduler, camera);
    capture->setUseBestPhoto(burst);
    if (fails)
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(QStringLiteral("^Camera error: .+")));
    QTest::ignoreMessage(QtCriticalMsg, qPrintable(line));
    capture->capturePondra(true);
    if (fails) {
        // The camera's error ends the run without waiting for anything.
        QTRY_VERIFY_WITH_TIMEOUT(!capture->isCapturing(), 20000);
    } else {
        // Long enough for a working camera to have delivered frames.
        QTest::qWait(1500);
        QVERIFY(capture->isCapturing());
        scheduler.advance(10s);
        QTRY_VERIFY(!capture->isCapturing());
    }
    QVERIFY(capture->photoSkipped.get());
    QVERIFY(!capture->capturedImage.get());
}

void TestQtCamera::replugKeepsTheChoice()
{
    QtCameraBackend backend;
    auto cameras = allCameras();
    QByteArrayList qtIdsBefore;
    for (const QCameraDevice& device : QMediaDevices::videoInputs())
        qtIdsBefore << device.id();

    // The portrait camera unplugged: a choice of it falls back to the default.
    const TestCamera portrait = cameras.takeFirst();
    writeCameras(cameras);
    QTRY_COMPARE_WITH_TIMEOUT(backend.cameras().size(), cameras.size(), 10000);
    QVERIFY(!backend.camera(portraitName));
    VirtualScheduler scheduler;
    auto capture = makeCapture(scheduler, portraitName);
    capture->setUseBestPhoto(true);
    // The runs only show the camera used: no time for a first frame.
    QTest::ignoreMessage(QtInfoMsg,
                         qPrintable(QStringLiteral("Using camera: %1 (burst mode)").arg(patternName)));
    QTest::ignoreMessage(QtCriticalMsg, "No frames captured in burst");
    capture->capturePondra();
    scheduler.advance(10s);
    QTRY_VERIFY(!capture->isCapturing());

    // Plugged in again, now last: Qt names it anew, the choice still holds.
    cameras.push_back(portrait);
    writeCameras(cameras);
    QTRY_COMPARE_WITH_TIMEOUT(QMediaDevices::videoInputs().last().description(), portraitName, 10000);
    QVERIFY(!qtIdsBefore.contains(QMediaDevices::videoInputs().last().id()));
    QCOMPARE(backend.cameras().size(), cameras.size());
    capture->refreshCameraList();
    QCOMPARE(capture->availableCameras.get().last(), (CameraDevice{portraitName, portraitName}));
    QCOMPARE(backend.camera(portraitName)->name, portraitName);
    QTest::ignoreMessage(QtInfoMsg,
                         qPrintable(QStringLiteral("Using camera: %1 (burst mode)").arg(portraitName)));
    QTest::ignoreMessage(QtCriticalMsg, "No frames captured in burst");
    capture->capturePondra();
    scheduler.advance(10s);
    QTRY_VERIFY(!capture->isCapturing());
}

QTEST_MAIN(TestQtCamera)
#include "tst_qt_camera.moc"
