#include "platform/faces/FaceAnalyser.h"

#include "PhotoFixtures.h"

#include <QtTest>

#include <cmath>

using namespace pondra;
using test::darken;
using test::gaussianBlur;
using test::testPhoto;

namespace {

// The face of a portrait in its own top-left pixel coordinates (found once).
QRectF faceOf(const QImage& photo)
{
    static QHash<qint64, QRectF> found;
    if (const auto it = found.constFind(photo.cacheKey()); it != found.cend())
        return *it;
    const auto faces = makeDefaultFaceAnalyser()->detectFaces(photo, nullptr);
    if (faces.empty())
        qFatal("no face in the portrait");
    const QRectF r = faces.front().rect;
    return found[photo.cacheKey()] =
               QRectF(r.x(), photo.height() - r.y() - r.height(), r.width(), r.height());
}

// A 1280×720 webcam frame of the portrait with a face of `faceWidth` px.
QImage webcam(const char* name, double faceWidth = 220, QPointF faceCentre = QPointF(640, 320))
{
    const QImage photo = testPhoto(QString::fromLatin1(name));
    return test::webcamFrame(photo, faceOf(photo), faceWidth, QSize(1280, 720), faceCentre);
}

float scoreOf(const QImage& image)
{
    QString error;
    const float score = makeDefaultFaceAnalyser()->captureQuality(image, &error);
    if (!error.isEmpty())
        qWarning("analysis failed: %s", qPrintable(error));
    return score;
}

} // namespace

class TestFaceQuality final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void quality_data();
    void quality();
    void ranking_data();
    void ranking();
    void detectionBoxes();
    void largeFramesMatchFullSearch_data();
    void largeFramesMatchFullSearch();
};

void TestFaceQuality::quality_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QString>("side"); // "usable" (>= 0.4), "unusable" (< 0.4), "none" (0), "mirror"

    for (const char* name : {"astronaut.jpg", "grace_hopper.jpg"}) {
        const QImage original = testPhoto(QString::fromLatin1(name));
        const QByteArray n(name);
        QTest::newRow(n + " original") << original << "usable";
        QTest::newRow(n + " blurred sigma 4")
            << gaussianBlur(original, 4.0 * original.width() / 512.0) << "unusable";
        QTest::newRow(n + " at 15% brightness") << darken(original, 0.15) << "unusable";
        // The whole photo so small that the face is well under 80 px.
        QTest::newRow(n + " face under 80 px")
            << original.scaledToWidth(original.width() / 3, Qt::SmoothTransformation) << "unusable";
        // A face of 70 px, small enough to be unusable but still found by the
        // detector at some scales.
        const double k = 70.0 / faceOf(original).width();
        QTest::newRow(n + " face at 70 px")
            << original.scaledToWidth(int(original.width() * k), Qt::SmoothTransformation) << "unusable";
        QTest::newRow(n + " mirrored") << original.mirrored(true, false) << "mirror";
        QTest::newRow(n + " webcam") << webcam(name) << "usable";
    }
    // Either side of the minimum, in webcam frames (the astronaut's portrait
    // is softer than Grace Hopper's, so it crosses at a smaller blur).
    const QImage hopper = webcam("grace_hopper.jpg");
    const QImage astronaut = webcam("astronaut.jpg");
    QTest::newRow("hopper webcam at 45% brightness") << darken(hopper, 0.45) << "usable";
    QTest::newRow("hopper webcam at 38% brightness") << darken(hopper, 0.38) << "unusable";
    QTest::newRow("hopper webcam blurred sigma 2.5") << gaussianBlur(hopper, 2.5) << "usable";
    QTest::newRow("hopper webcam blurred sigma 3") << gaussianBlur(hopper, 3) << "unusable";
    QTest::newRow("astronaut webcam blurred sigma 1.5") << gaussianBlur(astronaut, 1.5) << "usable";
    QTest::newRow("astronaut webcam blurred sigma 1.75") << gaussianBlur(astronaut, 1.75) << "unusable";
    QTest::newRow("astronaut webcam at 70% brightness") << darken(astronaut, 0.7) << "usable";
    QTest::newRow("astronaut webcam at 60% brightness") << darken(astronaut, 0.6) << "unusable";
    for (const char* name : {"coffee.jpg", "chelsea.jpg", "rocket.jpg"})
        QTest::newRow(name) << testPhoto(QString::fromLatin1(name)) << "none";
}

void TestFaceQuality::quality()
{
    QFETCH(QImage, image);
    QFETCH(QString, side);
    const float score = scoreOf(image);
    qInfo("score %.3f", double(score));
    if (side == QLatin1String("usable")) {
        QVERIFY2(score >= 0.4f, qPrintable(QString::number(score)));
    } else if (side == QLatin1String("unusable")) {
        QVERIFY2(score < 0.4f, qPrintable(QString::number(score)));
    } else if (side == QLatin1String("none")) {
        QCOMPARE(score, 0.0f);
    } else {
        const float original = scoreOf(image.mirrored(true, false));
        QVERIFY2(std::abs(score - original) <= 0.1f,
                 qPrintable(QStringLiteral("%1 vs %2").arg(score).arg(original)));
        QVERIFY(score >= 0.4f);
    }
}

void TestFaceQuality::ranking_data()
{
    // Frames of one burst, best first: each must score strictly above the
    // next, and the best is usable.
    QTest::addColumn<QList<QImage>>("frames");
    for (const char* name : {"astronaut.jpg", "grace_hopper.jpg"}) {
        const QImage frame = webcam(name);
        const QByteArray n(name);
        QTest::newRow(n + ": sharp, sigma 1, sigma 2")
            << QList<QImage>{frame, gaussianBlur(frame, 1), gaussianBlur(frame, 2)};
        QTest::newRow(n + ": well lit, dim") << QList<QImage>{frame, darken(frame, 0.55)};
    }
    // Without enlarging the portrait: Grace Hopper's face is 180 px in it.
    QTest::newRow("grace_hopper.jpg: larger face, smaller face")
        << QList<QImage>{webcam("grace_hopper.jpg", 180), webcam("grace_hopper.jpg", 120)};
}

void TestFaceQuality::ranking()
{
    QFETCH(QList<QImage>, frames);
    QList<float> scores;
    for (const QImage& frame : frames)
        scores.push_back(scoreOf(frame));
    qInfo() << "scores" << scores;
    for (qsizetype i = 1; i < scores.size(); ++i)
        QVERIFY2(scores[i - 1] > scores[i],
                 qPrintable(QStringLiteral("frame %1 does not beat frame %2").arg(i - 1).arg(i)));
    QVERIFY(scores.front() >= 0.4f);
}

void TestFaceQuality::detectionBoxes()
{
    // The astronaut's face lies in the upper middle of the portrait; in
    // bottom-left coordinates its box is in the upper half.
    const QImage image = testPhoto(QStringLiteral("astronaut.jpg"));
    auto analyser = makeDefaultFaceAnalyser();
    QString error;
    const auto faces = analyser->detectFaces(image, &error);
    QVERIFY(!faces.empty());
    const QRectF r = faces.front().rect;
    qInfo("face %.0f %.0f %.0f %.0f", r.x(), r.y(), r.width(), r.height());
    QVERIFY(r.width() > 80 && r.width() < 250);
    QVERIFY(r.center().y() > image.height() / 2.0);
    QVERIFY(QRectF(image.rect()).contains(r.center()));
    // The mirrored photo gives the mirrored box (within a few pixels).
    const auto mirrored = analyser->detectFaces(image.mirrored(true, false), &error);
    QVERIFY(!mirrored.empty());
    QVERIFY(std::abs((image.width() - mirrored.front().rect.center().x()) - r.center().x()) < 12);
    QVERIFY(analyser->detectFaces(testPhoto(QStringLiteral("coffee.jpg")), &error).empty());
}

void TestFaceQuality::largeFramesMatchFullSearch_data()
{
    QTest::addColumn<QImage>("frame");
    QTest::newRow("astronaut, 220 px face") << webcam("astronaut.jpg");
    QTest::newRow("astronaut, 180 px face, right") << webcam("astronaut.jpg", 180, QPointF(1000, 300));
    QTest::newRow("hopper, 220 px face") << webcam("grace_hopper.jpg");
    QTest::newRow("hopper, 300 px face, left") << webcam("grace_hopper.jpg", 300, QPointF(300, 380));
    QTest::newRow("hopper, 120 px face: below the VGA reach") << webcam("grace_hopper.jpg", 120);
}

void TestFaceQuality::largeFramesMatchFullSearch()
{
    // The default analyser searches large frames from a smaller pyramid
    // layer first; the face it reports is the full search's, within 2 %.
    QFETCH(QImage, frame);
    QString error;
    const auto fast = makeDefaultFaceAnalyser()->detectFaces(frame, &error);
    const auto full = makeDlibFaceAnalyser(0)->detectFaces(frame, &error);
    QVERIFY(!fast.empty() && !full.empty());
    const QRectF a = fast.front().rect, b = full.front().rect;
    const double tolerance = 0.02 * b.width();
    qInfo("fast %.0f %.0f %.0f %.0f, full %.0f %.0f %.0f %.0f", a.x(), a.y(), a.width(), a.height(), b.x(),
          b.y(), b.width(), b.height());
    QVERIFY(std::abs(a.left() - b.left()) <= tolerance && std::abs(a.right() - b.right()) <= tolerance);
    QVERIFY(std::abs(a.top() - b.top()) <= tolerance && std::abs(a.bottom() - b.bottom()) <= tolerance);
}

QTEST_GUILESS_MAIN(TestFaceQuality)
#include "tst_face_quality.moc"
