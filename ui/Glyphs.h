#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QRectF>

class QPainter;

namespace pondra {

/// Our own monochrome symbols (resources/glyphs), tinted when painted.
enum class Glyph
{
    personFill,
    videoFill,
    speakerSlashFill,
    musicNote,
    headphones,
    pencil,
    moonFill,
    sunMaxFill,
    bellFill,
    personCropCircleFill,
    cameraFill,
    eye,
    eyeSlash,
    messageFill,
};

/// A glyph in the colour it is drawn with: one mark of a row.
struct TintedGlyph
{
    Glyph glyph;
    QColor colour;
    bool operator==(const TintedGlyph&) const = default;
};

namespace glyphs {

/// The glyph's resource path (":/glyphs/…svg").
QString resourcePath(Glyph glyph);

/// The glyph at `pixelSize` × `pixelSize` device-independent pixels in one
/// colour, for `devicePixelRatio`. Cached, so painting it again is cheap.
QPixmap pixmap(Glyph glyph, int pixelSize, const QColor& colour, qreal devicePixelRatio = 1.0);

/// Paints the glyph tinted, as a square of side `pixelSize` centred in `rect`
/// (a symbol at "system N" is drawn with `pixelSize` N).
void paint(QPainter& painter, Glyph glyph, const QRectF& rect, int pixelSize, const QColor& colour);

/// An icon of the glyph in one colour (buttons, menus).
QIcon icon(Glyph glyph, const QColor& colour);

/// A filled circle inscribed in `rect`: the idle dot and the other status dots.
void paintDot(QPainter& painter, const QRectF& rect, const QColor& colour);

} // namespace glyphs
} // namespace pondra
