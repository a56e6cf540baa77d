#pragma once

#include "ui/kit/Glyphs.h"
#include "ui/kit/PlainText.h"

#include <QColor>
#include <QMargins>

#include <optional>

namespace pondra {

/// A one-line plain text (and an optional glyph before it) on a filled
/// rounded rectangle: the main window's status pill, status line and
/// now-playing row, and its clickable name. The text is cut at the tail
/// when the label gets less than its natural width; wider, the content is
/// centred. The text colour is the palette's window text (`palette::setTextColour`).
/// A clickable label acts like a button for the keyboard and screen readers:
/// it takes the focus, Space presses it, and it is read as a button.
class RoundedLabel final : public ElidedLabel
{
    Q_OBJECT
public:
    explicit RoundedLabel(QWidget* parent = nullptr);

    /// Transparent for none.
    void setFill(const QColor& fill);
    QColor fill() const { return m_fill; }
    void setRadius(qreal radius);
    /// Room between the rounded rectangle and its content.
    void setPadding(const QMargins& padding);
    /// A glyph before the text (spacing 4), in its own colour.
    void setGlyph(std::optional<Glyph> glyph, int pixelSize, const QColor& colour);
    /// A click on the label, or Space while it has the focus, emits `clicked`
    /// (and the pointer shows a hand).
    void setClickable(bool clickable);
    bool isClickable() const { return m_clickable; }
    /// Presses a clickable label, as a click does.
    void click();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int glyphWidth() const;

    QColor m_fill = Qt::transparent;
    qreal m_radius = 4;
    std::optional<Glyph> m_glyph;
    int m_glyphSize = 10;
    QColor m_glyphColour;
    bool m_clickable = false;
    bool m_pressed = false;
};

} // namespace pondra
