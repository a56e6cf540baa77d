#include "capture/ImagePipeline.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace pondra {

QRectF faceCropRect(QSize imageSize, const QRectF& face)
{
    const double W = imageSize.width(), H = imageSize.height();
    const double pad = 0.5 * std::max(face.width(), face.height());
    const QRectF grown(face.x() - pad, face.y() - pad, face.width() + 2 * pad, face.height() + 2 * pad);
    const double side = std::max(grown.width(), grown.height());
    double x = grown.center().x() - side / 2;
    double y = grown.center().y() - side / 2;
    x = std::max(0.0, x);
    y = std::max(0.0, y);
    const double w = std::min(side, W);
    const double h = std::min(side, H);
    if (x + w > W)
        x = W - w;
    if (y + h > H)
        y = H - h;
    const double top = H - y - h;
    return QRectF(x, top, w, h);
}

QRectF centerSquareRect(QSize imageSize)
{
    const double W = imageSize.width(), H = imageSize.height();
    const double side = std::min(W, H);
    return QRectF(W / 2 - side / 2, H / 2 - side / 2, side, side);
}

QImage cropWidened(const QImage& image, const QRectF& rect)
{
    const int left = int(std::floor(rect.left()));
    const int top = int(std::floor(rect.top()));
    const int right = int(std::ceil(rect.right()));
    const int bottom = int(std::ceil(rect.bottom()));
    const QRect whole = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)).intersected(image.rect());
    if (whole.isEmpty())
        return image;
    return image.copy(whole);
}

QImage scaleToTarget(const QImage& image)
{
    if (image.isNull())
        return image;
    const double w = image.width(), h = image.height();
    const double k = std::min(photoTargetSize.width() / w, photoTargetSize.height() / h);
    const QSize size(std::max(1, int(std::lround(w * k))), std::max(1, int(std::lround(h * k))));
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage pixelate(const QImage& input, int scale)
{
    if (input.isNull() || scale <= 0)
        return input;
    const QImage src = input.convertToFormat(QImage::Format_ARGB32);
    const int W = src.width(), H = src.height();
    // Cell edges in bottom-left coordinates lie at 150 + k·scale; find the
    // whole cells that cover the image.
    const auto floorDiv = [](int a, int b) { return int(std::floor(double(a) / b)); };
    const int anchor = 150;
    const int firstX = floorDiv(0 - anchor, scale), lastX = floorDiv(W - 1 - anchor, scale);
    const int firstY = floorDiv(0 - anchor, scale), lastY = floorDiv(H - 1 - anchor, scale);
    const int x0 = anchor + firstX * scale; // left edge of the output, <= 0
    const int y0 = anchor + firstY * scale; // bottom edge of the output, <= 0
    const int outW = (lastX - firstX + 1) * scale;
    const int outH = (lastY - firstY + 1) * scale;
    QImage out(outW, outH, QImage::Format_ARGB32);
    for (int cy = firstY; cy <= lastY; ++cy) {
        const int by0 = anchor + cy * scale; // bottom-left y range of the cell
        const int iy0 = std::max(0, by0), iy1 = std::min(H, by0 + scale);
        for (int cx = firstX; cx <= lastX; ++cx) {
            const int bx0 = anchor + cx * scale;
            const int ix0 = std::max(0, bx0), ix1 = std::min(W, bx0 + scale);
            quint64 a = 0, r = 0, g = 0, b = 0, n = 0;
            for (int y = iy0; y < iy1; ++y) {
                const QRgb* row = reinterpret_cast<const QRgb*>(src.constScanLine(H - 1 - y));
                for (int x = ix0; x < ix1; ++x) {
                    const QRgb p = row[x];
                    a += qAlpha(p), r += qRed(p), g += qGreen(p), b += qBlue(p), ++n;
                }
            }
            const QRgb mean = n ? qRgba(int(r / n), int(g / n), int(b / n), int(a / n)) : qRgba(0, 0, 0, 0);
            // Fill the cell in the output (top-left rows).
            const int ox = bx0 - x0;
            const int oyBottom = by0 - y0;
            for (int y = oyBottom; y < oyBottom + scale; ++y) {
                QRgb* row = reinterpret_cast<QRgb*>(out.scanLine(outH - 1 - y));
                std::fill(row + ox, row + ox + scale, mean);
            }
        }
    }
    return input.hasAlphaChannel() ? out : out.convertToFormat(QImage::Format_RGB32);
}

ProcessedPhoto processImage(const QImage& image, FaceAnalyser& analyser)
{
    ProcessedPhoto result;
    const std::vector<FaceBox> faces = analyser.detectFaces(image, &result.detectionError);
    result.faceDetected = !faces.empty();
    const QRectF crop = faces.empty() ? centerSquareRect(image.size()) : faceCropRect(image.size(), faces.front().rect);
    result.image = scaleToTarget(cropWidened(image, crop));
    return result;
}

} // namespace pondra
