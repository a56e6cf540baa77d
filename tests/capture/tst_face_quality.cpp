#include "platform/faces/FaceAnalyser.h"

#include "TestEnvironment.h"

#include <QtTest>

#include <cmath>

using namespace pondra;

namespace {

// A separable Gaussian blur with the given sigma, in pixels.
QImage gaussianBlur(const QImage& input, double sigma)
{
    const int radius = int(std::ceil(sigma * 3));
    std::vector<double> kernel(2 * radius + 1);
    double sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += kernel[i + radius] = std::exp(-(i * i) / (2 * sigma * sigma));
    for (double& k : kernel)
        k /= sum;
    const QImage src = input.convertToFormat(QImage::Format_RGB32);
    const auto pass = [&](const QImage& in, bool horizontal) {
        QImage out(in.size(), QImage::Format_RGB32);
        for (int y = 0; y < in.height(); ++y)
            for (int x = 0; x < in.width(); ++x) {
                double r = 0, g = 0, b = 0;
                for (int i = -radius; i <= radius; ++i) {
                    const int sx = horizontal ? std::clamp(x + i, 0, in.width() - 1) : x;
                    const int sy = horizontal ? y : std::clamp(y + i, 0, in.height() - 1);
                    const QRgb p = in.pixel(sx, sy);
                    const double k = kernel[i + radius];
                    r += k * qRed(p), g += k * qGreen(p), b += k * qBlue(p);
                }
                out.setPixel(x, y, qRgb(int(r + 0.5), int(g + 0.5), int(b + 0.5)));
            }
        return out;
    };
    return pass(pass(src, true), false);
}

QImage darken(const QImage& input, double factor)
{
    QImage out = input.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            row[x] = qRgb(int(qRed(row[x]) * factor), int(qGreen(row[x]) * factor), int(qBlue(row[x]) * factor));
    }
    return out;
}

QImage photo(const char* name)
{
    QImage image(test::testDataPath(QString::fromLatin1(name)));
    if (image.isNull())
        qFatal("missing test photo %s", name);
    return image;
}

} // namespace

class TestFaceQuality final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void quality_data();
    void quality();
    void detectionBoxes();
};

void TestFaceQuality::quality_data()
{
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QString>("side"); // "good" (>= 0.6), "bad" (< 0.4), "none" (0)

    for (const char* name : {"astronaut.jpg", "grace_hopper.jpg"}) {
        const QImage original = photo(name);
        const QByteArray n(name);
        QTest::newRow(n + " original") << original << "good";
        QTest::newRow(n + " blurred sigma 4") << gaussianBlur(original, 4.0 * original.width() / 512.0) << "bad";
        QTest::newRow(n + " at 15% brightness") << darken(original, 0.15) << "bad";
        // The whole photo so small that the face is well under 80 px.
        QTest::newRow(n + " face under 80 px") << original.scaledToWidth(original.width() / 3, Qt::SmoothTransformation) << "bad";
        // A face of 70 px, small enough to be unusable but still found by the
        // detector at some scales.
        const auto faces = makeDefaultFaceAnalyser()->detectFaces(original, nullptr);
        QVERIFY(!faces.empty());
        const double k = 70.0 / faces.front().rect.width();
        QTest::newRow(n + " face at 70 px") << original.scaledToWidth(int(original.width() * k), Qt::SmoothTransformation) << "bad";
        QTest::newRow(n + " mirrored") << original.mirrored(true, false) << "mirror";
    }
    for (const char* name : {"coffee.jpg", "chelsea.jpg", "rocket.jpg"})
        QTest::newRow(name) << photo(name) << "none";
}

void TestFaceQuality::quality()
{
    QFETCH(QImage, image);
    QFETCH(QString, side);
    auto analyser = makeDefaultFaceAnalyser();
    QString error;
    const float score = analyser->captureQuality(image, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    qInfo("score %.3f", double(score));
    if (side == QLatin1String("good")) {
        QVERIFY2(score >= 0.6f, qPrintable(QString::number(score)));
    } else if (side == QLatin1String("bad")) {
        QVERIFY2(score < 0.4f, qPrintable(QString::number(score)));
    } else if (side == QLatin1String("none")) {
        QCOMPARE(score, 0.0f);
    } else {
        const float original = analyser->captureQuality(image.mirrored(true, false), &error);
        QVERIFY2(std::abs(score - original) <= 0.1f, qPrintable(QStringLiteral("%1 vs %2").arg(score).arg(original)));
        QVERIFY(score >= 0.4f);
    }
}

void TestFaceQuality::detectionBoxes()
{
    // The astronaut's face lies in the upper middle of the portrait; in
    // bottom-left coordinates its box is in the upper half.
    const QImage image = photo("astronaut.jpg");
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
    QVERIFY(analyser->detectFaces(photo("coffee.jpg"), &error).empty());
}

QTEST_GUILESS_MAIN(TestFaceQuality)
#include "tst_face_quality.moc"
