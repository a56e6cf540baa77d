#pragma once

#include "ui/kit/Glyphs.h"

#include <QPushButton>

#include <optional>

namespace pondra {

/// A push button drawn as a filled rounded rectangle with a white glyph
/// and/or label: the team row's "Ring", pencil and presence buttons, the
/// ring card's "Sure!", and the prominent buttons of other windows. Never a
/// default button: Enter does not press it.
class FilledButton : public QPushButton
{
    Q_OBJECT
public:
    FilledButton(const QString& text, const QColor& fill, QWidget* parent = nullptr);

    void setFill(const QColor& fill);
    QColor fill() const { return m_fill; }
    /// A glyph before the label (spacing 4), drawn at `pixelSize`.
    void setGlyph(std::optional<Glyph> glyph, int pixelSize = 10);
    std::optional<Glyph> glyph() const { return m_glyph; }
    void setRadius(qreal radius);
    /// Padding around the label (the button's natural size grows by it).
    void setPadding(const QMargins& padding);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_fill;
    std::optional<Glyph> m_glyph;
    int m_glyphSize = 10;
    qreal m_radius = 4;
    QMargins m_padding{12, 6, 12, 6};
};

} // namespace pondra
