#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QRectF>
#include <QString>

#include <optional>

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

/// The room a leading glyph of side `pixelSize` takes before a one-line text:
/// the glyph, and the gap to the text when there is one. 0 without a glyph.
int leadingWidth(const std::optional<Glyph>& glyph, int pixelSize, bool hasText);

/// A leading glyph and a one-line text in the painter's font, centred together
/// in `area` (buttons and pills); a text too long for the rest is cut at its tail.
void paintWithText(QPainter& painter, const QRect& area, const std::optional<Glyph>& glyph, int pixelSize,
                   const QColor& glyphColour, const QString& text, const QColor& textColour);

} // namespace glyphs
} // namespace pondra
