#include "ui/kit/FilledButton.h"

#include "ui/kit/Palette.h"

#include <QPainter>
#include <QPainterPath>

namespace pondra {

FilledButton::FilledButton(const QString& text, const QColor& fill, QWidget* parent)
    : QPushButton(text, parent), m_fill(fill)
{
    setAutoDefault(false);
    setDefault(false);
    setCursor(Qt::PointingHandCursor);
}

void FilledButton::setFill(const QColor& fill)
{
    m_fill = fill;
    update();
}

void FilledButton::setGlyph(std::optional<Glyph> glyph, int pixelSize)
{
    m_glyph = glyph;
    m_glyphSize = pixelSize;
    updateGeometry();
    update();
}

void FilledButton::setRadius(qreal radius)
{
    m_radius = radius;
    update();
}

void FilledButton::setPadding(const QMargins& padding)
{
    m_padding = padding;
    updateGeometry();
}

QSize FilledButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int width = (text().isEmpty() ? 0 : metrics.horizontalAdvance(text())) +
                      glyphs::leadingWidth(m_glyph, m_glyphSize, !text().isEmpty());
    const int height = std::max(metrics.height(), m_glyph ? m_glyphSize : 0);
    return QSize(width + m_padding.left() + m_padding.right(), height + m_padding.top() + m_padding.bottom());
}

QSize FilledButton::minimumSizeHint() const
{
    return QSize(0, sizeHint().height());
}

void FilledButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = m_fill;
    if (!isEnabled())
        fill = palette::withOpacity(fill, 0.4);
    else if (isDown())
        fill = fill.darker(125);
    else if (underMouse())
        fill = fill.lighter(108);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), m_radius, m_radius);
    painter.fillPath(shape, fill);

    const QColor ink = isEnabled() ? palette::white() : palette::withOpacity(palette::white(), 0.6);
    painter.setFont(font());
    glyphs::paintWithText(painter, rect(), m_glyph, m_glyphSize, ink, text(), ink);

    if (hasFocus()) {
        QPen pen(palette::withOpacity(palette().color(QPalette::Highlight), 0.8), 2);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), m_radius, m_radius);
    }
}

} // namespace pondra
