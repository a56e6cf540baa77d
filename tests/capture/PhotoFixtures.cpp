#include "PhotoFixtures.h"

#include <QHash>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <vector>

namespace pondra::test {

QImage testPhoto(const QString& name)
{
    static QHash<QString, QImage> loaded;
    if (const auto it = loaded.constFind(name); it != loaded.cend())
        return *it;
    const QString path = QStringLiteral(PONDRA_TEST_PHOTOS "/") + name;
    QImage image(path);
    if (image.isNull())
        qFatal("missing test photo %s", qPrintable(path));
    return loaded[name] = image.convertToFormat(QImage::Format_RGB32);
}

namespace {

using Plane = std::vector<float>;

// Convolves every row of a w×h plane with the kernel, edges repeated.
void blurRows(Plane& plane, int w, int h, const std::vector<float>& kernel)
{
    const int radius = int(kernel.size() / 2);
    std::vector<float> padded(std::size_t(w + 2 * radius));
    for (int y = 0; y < h; ++y) {
        float* row = plane.data() + std::size_t(y) * std::size_t(w);
        for (int i = 0; i < w + 2 * radius; ++i)
            padded[std::size_t(i)] = row[std::clamp(i - radius, 0, w - 1)];
        for (int x = 0; x < w; ++x) {
            float acc = 0;
            for (std::size_t k = 0; k < kernel.size(); ++k)
                acc += kernel[k] * padded[std::size_t(x) + k];
            row[x] = acc;
        }
    }
}

Plane transposed(const Plane& plane, int w, int h)
{
    Plane out(plane.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out[std::size_t(x) * std::size_t(h) + std::size_t(y)] =
                plane[std::size_t(y) * std::size_t(w) + std::size_t(x)];
    return out;
}

} // namespace

QImage gaussianBlur(const QImage& input, double sigma)
{
    const int radius = int(std::ceil(sigma * 3));
    std::vector<float> kernel(std::size_t(2 * radius + 1));
    float sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += kernel[std::size_t(i + radius)] = float(std::exp(-(i * i) / (2 * sigma * sigma)));
    for (float& k : kernel)
        k /= sum;
    const QImage src = input.convertToFormat(QImage::Format_RGB32);
    const int w = src.width(), h = src.height();
    QImage result(src.size(), QImage::Format_RGB32);
    for (int shift : {16, 8, 0}) {
        Plane plane(std::size_t(w) * std::size_t(h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                plane[std::size_t(y) * std::size_t(w) + std::size_t(x)] =
                    float((reinterpret_cast<const QRgb*>(src.constScanLine(y))[x] >> shift) & 0xff);
        blurRows(plane, w, h, kernel);
        plane = transposed(plane, w, h);
        blurRows(plane, h, w, kernel);
        plane = transposed(plane, h, w);
        for (int y = 0; y < h; ++y) {
            auto* row = reinterpret_cast<QRgb*>(result.scanLine(y));
            for (int x = 0; x < w; ++x) {
                const auto value = QRgb(
                    std::clamp(int(plane[std::size_t(y) * std::size_t(w) + std::size_t(x)] + 0.5f), 0, 255));
                row[x] = (shift == 16 ? 0xff000000u : row[x]) | (value << shift);
            }
        }
    }
    return result;
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
