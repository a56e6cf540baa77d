// End to end without a camera: the file camera serves a real portrait, the
// real dlib analyser scores and crops it, on the real clock (the burst's
// 0.5 s + 1.5 s and the still photo's 1.5 s warm-up).
#include "capture/CameraCapture.h"
#include "platform/camera/QtCameraBackend.h"

#include "TestEnvironment.h"

#include <QtTest>

using namespace pondra;

class TestFileCamera final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void capture_data();
    void capture();
    void largePhotosAreBounded();

private:
    QTemporaryDir m_photos;
};

void TestFileCamera::initTestCase()
{
    QVERIFY(QFile::copy(test::testDataPath(QStringLiteral("grace_hopper.jpg")), m_photos.filePath(QStringLiteral("1.jpg"))));
    qputenv(fileCameraEnvironmentVariable, m_photos.path().toLocal8Bit());
}

void TestFileCamera::capture_data()
{
    QTest::addColumn<bool>("burst");
    QTest::newRow("burst") << true;
    QTest::newRow("single frame") << false;
}

void TestFileCamera::capture()
{
    QFETCH(bool, burst);
    test::ScopedXdgHome home;
    auto settings = std::make_shared<SettingsStore>(home.path() + QStringLiteral("/s.conf"));
    CameraCapture capture(makeDefaultCameraBackend(), makeDefaultFaceAnalyser(), RealScheduler::instance(), settings,
                          home.path() + QStringLiteral("/Pondra"));
    QCOMPARE(capture.availableCameras.get().size(), 1);
    capture.setUseBestPhoto(burst);
    capture.capturePondra(true);
    QVERIFY(capture.isCapturing());
    QTRY_VERIFY_WITH_TIMEOUT(!capture.isCapturing(), 20000);
    QVERIFY(!capture.photoSkipped.get());
    QVERIFY(capture.isPondraMode.get());
    QVERIFY(capture.faceDetected.get());
    QCOMPARE(capture.capturedImage.get()->size(), QSize(240, 240));
    capture.resetPondra();
    QVERIFY(QFile::exists(home.path() + QStringLiteral("/Pondra/away-photo.jpg")));
}

void TestFileCamera::largePhotosAreBounded()
{
    // A 1920×1080 photo arrives as 1280×720, as a burst frame and as a still.
    QTemporaryDir folder;
    QImage large(1920, 1080, QImage::Format_RGB32);
    large.fill(Qt::darkGreen);
    QVERIFY(large.save(folder.filePath(QStringLiteral("large.png"))));
    FileCameraBackend backend(folder.path());
    QObject context;
    for (CameraMode mode : {CameraMode::Video, CameraMode::Still}) {
        auto session = backend.openSession(*backend.defaultCamera(), mode, nullptr);
        std::optional<QImage> image;
        session->setFrameHandler(&context, [&](const QImage& frame) { image = frame; });
        bool started = false;
        session->start(&context, [&](bool running) { started = running; });
        QTRY_VERIFY(started);
        if (mode == CameraMode::Still)
            session->takeStill(&context, [&](std::optional<QImage> photo) { image = photo; });
        QTRY_VERIFY(image.has_value());
        QCOMPARE(image->size(), QSize(1280, 720));
        session->stop();
    }
}

QTEST_GUILESS_MAIN(TestFileCamera)
#include "tst_file_camera.moc"
