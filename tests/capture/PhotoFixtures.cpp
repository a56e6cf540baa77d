#include "PhotoFixtures.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace pondra::test {

QImage testPhoto(const QString& name)
{
    const QString path = QStringLiteral(PONDRA_TEST_PHOTOS "/") + name;
    QImage image(path);
    if (image.isNull())
        qFatal("missing test photo %s", qPrintable(path));
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage gaussianBlur(const QImage& input, double sigma)
{
    const int radius = int(std::ceil(sigma * 3));
    std::vector<double> kernel(std::size_t(2 * radius + 1));
    double sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += kernel[std::size_t(i + radius)] = std::exp(-(i * i) / (2 * sigma * sigma));
    for (double& k : kernel)
        k /= sum;
    const auto pass = [&](const QImage& in, bool horizontal) {
        QImage out(in.size(), QImage::Format_RGB32);
        const int w = in.width(), h = in.height();
        for (int y = 0; y < h; ++y) {
            auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
            for (int x = 0; x < w; ++x) {
                double r = 0, g = 0, b = 0;
                for (int i = -radius; i <= radius; ++i) {
                    const int sx = horizontal ? std::clamp(x + i, 0, w - 1) : x;
                    const int sy = horizontal ? y : std::clamp(y + i, 0, h - 1);
                    const QRgb p = reinterpret_cast<const QRgb*>(in.constScanLine(sy))[sx];
                    const double k = kernel[std::size_t(i + radius)];
                    r += k * qRed(p), g += k * qGreen(p), b += k * qBlue(p);
                }
                dst[x] = qRgb(int(r + 0.5), int(g + 0.5), int(b + 0.5));
            }
        }
        return out;
    };
    return pass(pass(input.convertToFormat(QImage::Format_RGB32), true), false);
}

QImage darken(const QImage& input, double factor)
{
    QImage out = input.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            row[x] =
                qRgb(int(qRed(row[x]) * factor), int(qGreen(row[x]) * factor), int(qBlue(row[x]) * factor));
    }
    return out;
}

QImage webcamFrame(const QImage& portrait, const QRectF& face, double faceWidth, QSize frameSize,
                   QPointF faceCentre)
{
    const double k = faceWidth / face.width();
    const QImage scaled = portrait.scaled(
        QSize(int(std::lround(portrait.width() * k)), int(std::lround(portrait.height() * k))),
        Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage frame(frameSize, QImage::Format_RGB32);
    frame.fill(qRgb(110, 112, 115));
    QPainter painter(&frame);
    painter.drawImage(faceCentre - face.center() * k, scaled);
    painter.end();
    return frame;
}

} // namespace pondra::test
