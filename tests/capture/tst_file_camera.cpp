// End to end without a camera: the file camera serves a real portrait, the
// real dlib analyser scores and crops it, on the real clock (the burst's
// 0.5 s + 1.5 s and the still photo's 1.5 s warm-up).
#include "capture/CameraCapture.h"

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

QTEST_GUILESS_MAIN(TestFileCamera)
#include "tst_file_camera.moc"
