#include "capture/ImagePipeline.h"

#include <QtTest>

using namespace pondra;

class TestImagePipeline final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cropAndScale_data();
    void cropAndScale();
    void cropWidensToWholePixels();
    void detectorFailureCropsAsFaceless();
    void pixelateExtent_data();
    void pixelateExtent();
    void pixelateCellsAreMeansOnAnchoredGrid();
};

using Faces = QList<QRectF>;

void TestImagePipeline::cropAndScale_data()
{
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<Faces>("faces"); // bottom-left pixel coordinates
    QTest::addColumn<QRectF>("crop"); // top-left pixel coordinates
    QTest::addColumn<QSize>("output");

    QTest::newRow("face centred in 720p") << QSize(1280, 720) << Faces{{540, 240, 200, 240}} << QRectF(400, 120, 480, 480) << QSize(240, 240);
    QTest::newRow("face at the left edge") << QSize(1280, 720) << Faces{{0, 240, 200, 240}} << QRectF(0, 120, 480, 480) << QSize(240, 240);
    QTest::newRow("face near the right edge") << QSize(1280, 720) << Faces{{1100, 240, 200, 240}} << QRectF(800, 120, 480, 480) << QSize(240, 240);
    QTest::newRow("face near the top edge") << QSize(1280, 720) << Faces{{540, 530, 200, 240}} << QRectF(400, 0, 480, 480) << QSize(240, 240);
    QTest::newRow("face near the bottom edge") << QSize(1280, 720) << Faces{{540, 0, 200, 240}} << QRectF(400, 240, 480, 480) << QSize(240, 240);
    QTest::newRow("face larger than half the height") << QSize(640, 480) << Faces{{195, 90, 250, 300}} << QRectF(20, 0, 600, 480) << QSize(300, 240);
    QTest::newRow("two faces: the first one counts") << QSize(1280, 720) << Faces{{540, 240, 200, 240}, {0, 0, 100, 100}} << QRectF(400, 120, 480, 480) << QSize(240, 240);
    QTest::newRow("no face: centred square") << QSize(1280, 720) << Faces{} << QRectF(280, 0, 720, 720) << QSize(240, 240);
    QTest::newRow("no face, portrait image") << QSize(480, 640) << Faces{} << QRectF(0, 80, 480, 480) << QSize(240, 240);
    QTest::newRow("small input is enlarged") << QSize(100, 100) << Faces{} << QRectF(0, 0, 100, 100) << QSize(240, 240);
}

void TestImagePipeline::cropAndScale()
{
    QFETCH(QSize, imageSize);
    QFETCH(Faces, faces);
    QFETCH(QRectF, crop);
    QFETCH(QSize, output);

    const QRectF computed = faces.isEmpty() ? centerSquareRect(imageSize) : faceCropRect(imageSize, faces.first());
    QCOMPARE(computed, crop);

    // Through the whole pipeline: a marker pixel at the crop's top-left corner
    // must land at the output's top-left corner.
    QImage image(imageSize, QImage::Format_RGB32);
    image.fill(Qt::black);
    const QRect marker(int(crop.x()), int(crop.y()), int(crop.width() / 8), int(crop.height() / 8));
    for (int y = marker.top(); y <= marker.bottom(); ++y)
        for (int x = marker.left(); x <= marker.right(); ++x)
            image.setPixel(x, y, qRgb(255, 255, 255));
    FakeFaceAnalyser analyser;
    analyser.faces = [faces](const QImage&) {
        std::vector<FaceBox> boxes;
        for (const QRectF& r : faces)
            boxes.push_back({r, 0.9f});
        return boxes;
    };
    const ProcessedPhoto processed = processImage(image, analyser);
    QCOMPARE(processed.faceDetected, !faces.isEmpty());
    QCOMPARE(processed.image.size(), output);
    QVERIFY(qRed(processed.image.pixel(2, 2)) > 200);
    QVERIFY(qRed(processed.image.pixel(output.width() - 3, output.height() - 3)) < 50);
}

void TestImagePipeline::cropWidensToWholePixels()
{
    QImage image(100, 100, QImage::Format_RGB32);
    image.fill(Qt::gray);
    QCOMPARE(cropWidened(image, QRectF(10.5, 20.2, 30, 40)).size(), QSize(31, 41));
    // Cut to the image where it reaches beyond.
    QCOMPARE(cropWidened(image, QRectF(80, 80, 50, 50)).size(), QSize(20, 20));
    // Nothing inside: the input itself.
    QCOMPARE(cropWidened(image, QRectF(200, 200, 10, 10)).cacheKey(), image.cacheKey());
}

void TestImagePipeline::detectorFailureCropsAsFaceless()
{
    QImage image(1280, 720, QImage::Format_RGB32);
    image.fill(Qt::gray);
    FakeFaceAnalyser analyser;
    analyser.failure = [](const QImage&) { return QStringLiteral("detector broke"); };
    const ProcessedPhoto processed = processImage(image, analyser);
    QCOMPARE(processed.detectionError, QStringLiteral("detector broke"));
    QVERIFY(!processed.faceDetected);
    QCOMPARE(processed.image.size(), QSize(240, 240));
}

void TestImagePipeline::pixelateExtent_data()
{
    QTest::addColumn<QSize>("input");
    QTest::addColumn<int>("scale");
    QTest::addColumn<QSize>("output");

    // Cell edges lie at 150 + k·scale from the bottom-left corner.
    QTest::newRow("320x240, cells of 30: a strip on the right") << QSize(320, 240) << 30 << QSize(330, 240);
    QTest::newRow("240x240, cells of 30: exact") << QSize(240, 240) << 30 << QSize(240, 240);
    QTest::newRow("100x100, cells of 30") << QSize(100, 100) << 30 << QSize(120, 120);
    QTest::newRow("320x240, cells of 40: strips on every side") << QSize(320, 240) << 40 << QSize(360, 280);
    QTest::newRow("320x240, cells of 10: exact") << QSize(320, 240) << 10 << QSize(320, 240);
    QTest::newRow("1x1") << QSize(1, 1) << 30 << QSize(30, 30);
}

void TestImagePipeline::pixelateExtent()
{
    QFETCH(QSize, input);
    QFETCH(int, scale);
    QFETCH(QSize, output);
    QImage image(input, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QImage out = pixelate(image, scale);
    QCOMPARE(out.size(), output);
    QCOMPARE(out.pixel(0, 0), image.pixel(0, 0));
    QCOMPARE(out.pixel(output.width() - 1, output.height() - 1), image.pixel(0, 0));
}

void TestImagePipeline::pixelateCellsAreMeansOnAnchoredGrid()
{
    // 320x240, cells of 40: edges (bottom-left) at x = -10, 30, 70, ... and
    // y = -10, 30, 70, ...; the output starts 10 px left of and 10 px below
    // the input and is 360x280.
    QImage image(320, 240, QImage::Format_RGB32);
    image.fill(qRgb(200, 0, 0));
    // The bottom 30 rows blue: exactly the bottom row of cells.
    for (int y = 210; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            image.setPixel(x, y, qRgb(0, 0, 200));
    // One cell (x 30..70, y 110..150 from the bottom) half white, half black.
    for (int y = 240 - 150; y < 240 - 110; ++y)
        for (int x = 30; x < 70; ++x)
            image.setPixel(x, y, x < 50 ? qRgb(255, 255, 255) : qRgb(1, 1, 1));

    const QImage out = pixelate(image, 40);
    QCOMPARE(out.size(), QSize(360, 280));
    const auto at = [&](int xFromLeft, int yFromBottom) { return out.pixel(xFromLeft + 10, 279 - (yFromBottom + 10)); };
    QCOMPARE(at(0, 0), qRgb(0, 0, 200));        // bottom cell row, inside the image
    QCOMPARE(at(-10, -10), qRgb(0, 0, 200));    // the added bottom-left strip
    QCOMPARE(at(100, 29), qRgb(0, 0, 200));
    QCOMPARE(at(100, 30), qRgb(200, 0, 0));     // the next row of cells
    QCOMPARE(at(345, 250), qRgb(200, 0, 0));    // the top-right strip
    QCOMPARE(at(30, 110), qRgb(128, 128, 128)); // the mean of the split cell
    QCOMPARE(at(69, 149), qRgb(128, 128, 128));
    QCOMPARE(at(70, 149), qRgb(200, 0, 0));
    // The input is untouched.
    QCOMPARE(image.pixel(30, 100), qRgb(255, 255, 255));
}

QTEST_GUILESS_MAIN(TestImagePipeline)
#include "tst_image_pipeline.moc"
