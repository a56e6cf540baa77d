#include "ui/kit/Glyphs.h"

#include <QFontMetrics>
#include <QPaintDevice>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>

#include <algorithm>
#include <cmath>

namespace pondra::glyphs {

QString resourcePath(Glyph glyph)
{
    const char* name = "person-fill";
    switch (glyph) {
    case Glyph::personFill:
        name = "person-fill";
        break;
    case Glyph::videoFill:
        name = "video-fill";
        break;
    case Glyph::speakerSlashFill:
        name = "speaker-slash-fill";
        break;
    case Glyph::musicNote:
        name = "music-note";
        break;
    case Glyph::headphones:
        name = "headphones";
        break;
    case Glyph::pencil:
        name = "pencil";
        break;
    case Glyph::moonFill:
        name = "moon-fill";
        break;
    case Glyph::sunMaxFill:
        name = "sun-max-fill";
        break;
    case Glyph::bellFill:
        name = "bell-fill";
        break;
    case Glyph::personCropCircleFill:
        name = "person-crop-circle-fill";
        break;
    case Glyph::cameraFill:
        name = "camera-fill";
        break;
    case Glyph::eye:
        name = "eye";
        break;
    case Glyph::eyeSlash:
        name = "eye-slash";
        break;
    case Glyph::messageFill:
        name = "message-fill";
        break;
    }
    return QStringLiteral(":/glyphs/%1.svg").arg(QLatin1String(name));
}

QPixmap pixmap(Glyph glyph, int pixelSize, const QColor& colour, qreal devicePixelRatio)
{
    const int side = std::max(1, int(std::ceil(pixelSize * devicePixelRatio)));
    const QString key = QStringLiteral("pondra-glyph-%1-%2-%3")
                            .arg(int(glyph))
                            .arg(side)
                            .arg(colour.rgba(), 8, 16, QLatin1Char('0'));
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;

    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        QSvgRenderer renderer(resourcePath(glyph));
        renderer.render(&p, QRectF(0, 0, side, side));
        // Keep the shape's coverage, take the colour: one tint for every glyph.
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(image.rect(), colour);
    }
    QPixmap result = QPixmap::fromImage(std::move(image));
    result.setDevicePixelRatio(devicePixelRatio);
    QPixmapCache::insert(key, result);
    return result;
}

void paint(QPainter& painter, Glyph glyph, const QRectF& rect, int pixelSize, const QColor& colour)
{
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QPixmap pm = pixmap(glyph, pixelSize, colour, dpr);
    // Whole pixels: a glyph between pixels would be resampled and blur.
    const QPointF topLeft(std::round(rect.center().x() - pixelSize / 2.0),
                          std::round(rect.center().y() - pixelSize / 2.0));
    painter.drawPixmap(topLeft, pm);
}

QIcon icon(Glyph glyph, const QColor& colour)
{
    QIcon result;
    for (int size : {16, 24, 32, 48})
        result.addPixmap(pixmap(glyph, size, colour));
    return result;
}

void paintDot(QPainter& painter, const QRectF& rect, const QColor& colour)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(rect);
    painter.restore();
}

int leadingWidth(const std::optional<Glyph>& glyph, int pixelSize, bool hasText)
{
    constexpr int gapToText = 4;
    return glyph ? pixelSize + (hasText ? gapToText : 0) : 0;
}

void paintWithText(QPainter& painter, const QRect& area, const std::optional<Glyph>& glyph, int pixelSize,
                   const QColor& glyphColour, const QString& text, const QColor& textColour)
{
    const QFontMetrics metrics(painter.font());
    const int leading = leadingWidth(glyph, pixelSize, !text.isEmpty());
    const QString shown = metrics.elidedText(text, Qt::ElideRight, std::max(0, area.width() - leading));
    const int textWidth = shown.isEmpty() ? 0 : metrics.horizontalAdvance(shown);
    int x = area.left() + std::max(0, (area.width() - leading - textWidth) / 2);
    if (glyph) {
        paint(painter, *glyph, QRectF(x, area.top(), pixelSize, area.height()), pixelSize, glyphColour);
        x += leading;
    }
    if (!shown.isEmpty()) {
        painter.setPen(textColour);
        painter.drawText(QRect(x, area.top(), area.right() - x + 1, area.height()),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }
}

} // namespace pondra::glyphs
