#include "ui/kit/RoundedLabel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace pondra {

RoundedLabel::RoundedLabel(QWidget* parent) : ElidedLabel(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void RoundedLabel::setFill(const QColor& fill)
{
    if (m_fill == fill)
        return;
    m_fill = fill;
    update();
}

void RoundedLabel::setRadius(qreal radius)
{
    m_radius = radius;
    update();
}

void RoundedLabel::setPadding(const QMargins& padding)
{
    setContentsMargins(padding);
}

void RoundedLabel::setGlyph(std::optional<Glyph> glyph, int pixelSize, const QColor& colour)
{
    m_glyph = glyph;
    m_glyphSize = pixelSize;
    m_glyphColour = colour;
    updateGeometry();
    update();
}

void RoundedLabel::setClickable(bool clickable)
{
    m_clickable = clickable;
    if (clickable)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}

int RoundedLabel::glyphWidth() const
{
    return glyphs::leadingWidth(m_glyph, m_glyphSize, !text().isEmpty());
}

QSize RoundedLabel::sizeHint() const
{
    // Rounded up: the whole-pixel advance can be a fraction short of what the
    // eliding measures, and the text would be cut though it fits.
    const QFontMetricsF metrics(font());
    const QMargins m = contentsMargins();
    const int textWidth = text().isEmpty() ? 0 : int(std::ceil(metrics.horizontalAdvance(text())));
    const int height = std::max(int(std::ceil(metrics.height())), m_glyph ? m_glyphSize : 0);
    return QSize(m.left() + glyphWidth() + textWidth + m.right(), m.top() + height + m.bottom());
}

QSize RoundedLabel::minimumSizeHint() const
{
    const QMargins m = contentsMargins();
    return QSize(m.left() + m.right() + glyphWidth(), sizeHint().height());
}

void RoundedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (m_fill.alpha() > 0) {
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), m_radius, m_radius);
        painter.fillPath(shape, m_fill);
    }
    painter.setFont(font());
    glyphs::paintWithText(
        painter, contentsRect(), m_glyph, m_glyphSize, m_glyphColour, text(),
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
}

void RoundedLabel::mousePressEvent(QMouseEvent* event)
{
    if (m_clickable && event->button() == Qt::LeftButton) {
        m_pressed = true;
        event->accept();
        return;
    }
    ElidedLabel::mousePressEvent(event);
}

void RoundedLabel::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_clickable && event->button() == Qt::LeftButton && std::exchange(m_pressed, false)) {
        event->accept();
        if (rect().contains(event->position().toPoint()))
            Q_EMIT clicked();
        return;
    }
    ElidedLabel::mouseReleaseEvent(event);
}

} // namespace pondra
