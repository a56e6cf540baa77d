#pragma once

// Peer photos for benchmarks: a 320×240 JPEG with detail, as base64, at the
// best quality that stays within `maxBytes`.
#include <QBuffer>
#include <QImage>
#include <QRandomGenerator>
#include <QString>

namespace pondra::bench {

inline QString photoText(int seed, int maxBytes)
{
    QImage image(320, 240, QImage::Format_RGB32);
    QRandomGenerator rng(seed);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y,
                           qRgb((x + seed) % 256, (y * 3) % 256, int(rng.bounded(40)) + ((x ^ y) & 0x7f)));
    for (int quality = 95; quality > 5; quality -= 5) {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG", quality);
        if (bytes.size() <= maxBytes)
            return QString::fromLatin1(bytes.toBase64());
    }
    return {};
}

} // namespace pondra::bench
