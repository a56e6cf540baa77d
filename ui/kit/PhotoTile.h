#pragma once

#include "ui/kit/Glyphs.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRectF>

#include <optional>

class QPainter;

namespace pondra {

/// How a photo tile looks: rows (56, radius 8), the ring card (100, radius 8),
/// the main window (with a caption under its camera), the overlay's round
/// avatar (radius = half the side).
struct PhotoTileStyle
{
    qreal radius = 8;
    /// Behind the placeholder glyph; transparent for none.
    QColor placeholderFill;
    Glyph placeholderGlyph = Glyph::personFill;
    int placeholderGlyphSize = 20;
    QColor placeholderGlyphColour;
    /// The placeholder glyph fills the tile (fitted) instead of `placeholderGlyphSize`.
    bool placeholderGlyphFills = false;
    /// A line under the placeholder glyph, the two centred together; empty for none.
    QString placeholderCaption;
    QFont placeholderCaptionFont;
    QColor placeholderCaptionColour;
};

namespace photoTile {

/// The placeholder of rows and the ring card: gray at 30 % behind a gray
/// person of `glyphSize`.
PhotoTileStyle placeholderStyle(qreal radius, int glyphSize);

/// The part of `source` that aspect-fill shows in `target`: the largest
/// centred rectangle of the target's aspect ratio, so the photo is cropped at
/// its longer sides, never letterboxed or squeezed.
QRectF fillSourceRect(const QSizeF& source, const QSizeF& target);

/// Paints the photo aspect-filled into `rect`, clipped to a rounded rectangle
/// of the style's radius; without a photo, the style's placeholder.
void paint(QPainter& painter, const QRectF& rect, const std::optional<QImage>& photo,
           const PhotoTileStyle& style);

} // namespace photoTile
} // namespace pondra
