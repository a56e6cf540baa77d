#include "records/PhotoDecoder.h"

#include <QBuffer>
#include <QCache>
#include <QImageReader>
#include <QMutex>

#include <algorithm>

namespace pondra {

namespace {
// 200 teammates at 320×320 with their photo texts fit, with room to spare.
constexpr int cacheBudgetKiB = 96 * 1024;

struct CachedPhoto
{
    std::optional<QImage> image;
};

QMutex cacheMutex;
QCache<QString, CachedPhoto>& cache()
{
    static QCache<QString, CachedPhoto> instance(cacheBudgetKiB);
    return instance;
}

bool isBase64Char(char16_t c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'+' ||
           c == u'/';
}

/// What decoding the whole picture would hold: every photo ends as 32-bit
/// pixels, and 16-bit sources are decoded at 64 bits first.
qint64 fullDecodeBytes(QSize size, QImage::Format format)
{
    const int bitsPerPixel =
        format == QImage::Format_Invalid ? 64 : QImage::toPixelFormat(format).bitsPerPixel();
    return qint64(size.width()) * size.height() * std::max(4, bitsPerPixel / 8);
}

std::optional<QImage> decodeUncached(const QString& text)
{
    if (text.size() > maxPhotoTextLength || !isStrictBase64(text))
        return std::nullopt;
    QByteArray bytes = QByteArray::fromBase64(text.toLatin1());
    if (bytes.isEmpty())
        return std::nullopt;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QByteArray format = reader.format();
    if (format != "jpeg" && format != "png")
        return std::nullopt;
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > maxPhotoSide || size.height() > maxPhotoSide)
        return std::nullopt;
    // A small file can unpack to a huge picture: judge it before decoding.
    if (fullDecodeBytes(size, reader.imageFormat()) > maxPhotoDecodeBytes)
        return std::nullopt;
    QSize target = size;
    if (target.width() > decodedPhotoSide || target.height() > decodedPhotoSide)
        target =
            target.scaled(decodedPhotoSide, decodedPhotoSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    // JPEG decodes straight to a fraction of its size; PNG has no such
    // mode, so it is decoded whole and scaled below.
    if (format == "jpeg" && target != size)
        reader.setScaledSize(target);
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    // One pixel format for every photo: cheap to scale and to draw, and the
    // cache's cost stays four bytes a pixel.
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32_Premultiplied)
        image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    if (image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (image.isNull())
        return std::nullopt;
    return image;
}

int costKiB(const CachedPhoto& entry, const QString& key)
{
    const qint64 bytes = (entry.image ? entry.image->sizeInBytes() : 0) + key.size() * 2;
    return int(std::max<qint64>(1, bytes / 1024));
}
} // namespace

bool isStrictBase64(const QString& text)
{
    const qsizetype n = text.size();
    if (n % 4 != 0)
        return false;
    const char16_t* data = reinterpret_cast<const char16_t*>(text.utf16());
    qsizetype padding = 0;
    if (n >= 1 && data[n - 1] == u'=')
        padding = (n >= 2 && data[n - 2] == u'=') ? 2 : 1;
    for (qsizetype i = 0; i < n - padding; ++i) {
        if (!isBase64Char(data[i]))
            return false;
    }
    return true;
}

std::optional<QImage> decodePhotoText(const QString& text)
{
    {
        QMutexLocker lock(&cacheMutex);
        if (const CachedPhoto* hit = cache().object(text))
            return hit->image;
    }
    auto entry = std::make_unique<CachedPhoto>(CachedPhoto{decodeUncached(text)});
    std::optional<QImage> result = entry->image;
    const int cost = costKiB(*entry, text);
    QMutexLocker lock(&cacheMutex);
    cache().insert(text, entry.release(), cost);
    return result;
}

void clearPhotoCache()
{
    QMutexLocker lock(&cacheMutex);
    cache().clear();
}

} // namespace pondra
