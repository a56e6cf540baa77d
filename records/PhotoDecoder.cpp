#include "records/PhotoDecoder.h"

#include <QBuffer>
#include <QCache>
#include <QImageReader>
#include <QMutex>

namespace pondra {

namespace {
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
    QImage image = reader.read();
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
