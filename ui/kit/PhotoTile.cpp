#include "ui/kit/PhotoTile.h"

#include "ui/kit/Palette.h"

#include <QPaintDevice>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>

#include <cmath>

namespace pondra::photoTile {

PhotoTileStyle placeholderStyle(qreal radius, int glyphSize)
{
    PhotoTileStyle style;
    style.radius = radius;
    style.placeholderFill = palette::withOpacity(palette::gray(), 0.3);
    style.placeholderGlyph = Glyph::personFill;
    style.placeholderGlyphSize = glyphSize;
    style.placeholderGlyphColour = palette::gray();
    return style;
}

QRectF fillSourceRect(const QSizeF& source, const QSizeF& target)
{
    if (source.isEmpty() || target.isEmpty())
        return QRectF(QPointF(0, 0), source);
    const qreal scale = std::max(target.width() / source.width(), target.height() / source.height());
    const QSizeF shown(target.width() / scale, target.height() / scale);
    return QRectF(QPointF((source.width() - shown.width()) / 2, (source.height() - shown.height()) / 2),
                  shown);
}

namespace {
// The photo scaled and cropped once per size: rows repaint often (hover, the
// scrolling status), and a 320 px photo scaled at every paint is wasted work.
QPixmap scaledCrop(const QImage& photo, const QSize& deviceSize)
{
    const QString key = QStringLiteral("pondra-tile-%1-%2x%3")
                            .arg(photo.cacheKey())
                            .arg(deviceSize.width())
                            .arg(deviceSize.height());
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;
    const QRect source = fillSourceRect(photo.size(), deviceSize).toAlignedRect().intersected(photo.rect());
    QPixmap result = QPixmap::fromImage(
        photo.copy(source).scaled(deviceSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    QPixmapCache::insert(key, result);
    return result;
}
} // namespace

void paint(QPainter& painter, const QRectF& rect, const std::optional<QImage>& photo,
           const PhotoTileStyle& style)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(rect, style.radius, style.radius);

    if (photo && !photo->isNull()) {
        const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        const QSize deviceSize(int(std::ceil(rect.width() * dpr)), int(std::ceil(rect.height() * dpr)));
        const QPixmap crop = scaledCrop(*photo, deviceSize);
        painter.setClipPath(clip, Qt::IntersectClip);
        painter.drawPixmap(rect, crop, QRectF(QPointF(0, 0), QSizeF(crop.size())));
    } else {
        if (style.placeholderFill.isValid() && style.placeholderFill.alpha() > 0)
            painter.fillPath(clip, style.placeholderFill);
        const int glyphSize = style.placeholderGlyphFills ? int(std::min(rect.width(), rect.height()))
                                                          : style.placeholderGlyphSize;
        if (style.placeholderCaption.isEmpty()) {
            glyphs::paint(painter, style.placeholderGlyph, rect, glyphSize, style.placeholderGlyphColour);
        } else {
            // Glyph over caption, the pair centred in the tile.
            const QFontMetricsF metrics(style.placeholderCaptionFont);
            const qreal spacing = 8;
            const qreal top = rect.center().y() - (glyphSize + spacing + metrics.height()) / 2;
            glyphs::paint(painter, style.placeholderGlyph, QRectF(rect.left(), top, rect.width(), glyphSize),
                          glyphSize, style.placeholderGlyphColour);
            const QRectF line(rect.left(), top + glyphSize + spacing, rect.width(), metrics.height());
            painter.setFont(style.placeholderCaptionFont);
            painter.setPen(style.placeholderCaptionColour);
            painter.drawText(line, Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine,
                             metrics.elidedText(style.placeholderCaption, Qt::ElideRight, rect.width()));
        }
    }
    painter.restore();
}

} // namespace pondra::photoTile
