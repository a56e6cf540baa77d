#include "ui/kit/RoundedLabel.h"

#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace pondra {

namespace {

/// A clickable label as screen readers see it: a button named by its text,
/// with the press action.
class ClickableLabelAccessible final : public QAccessibleWidget
{
public:
    explicit ClickableLabelAccessible(RoundedLabel* label) : QAccessibleWidget(label, QAccessible::Button) {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name && widget()->accessibleName().isEmpty())
            return label()->text();
        return QAccessibleWidget::text(kind);
    }
    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& action) override
    {
        if (action == pressAction())
            label()->click();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    RoundedLabel* label() const { return static_cast<RoundedLabel*>(widget()); }
};

QAccessibleInterface* clickableLabelAccessible(const QString& className, QObject* object)
{
    if (className != QLatin1String(RoundedLabel::staticMetaObject.className()))
        return nullptr;
    auto* label = qobject_cast<RoundedLabel*>(object);
    return label && label->isClickable() ? new ClickableLabelAccessible(label) : nullptr;
}

} // namespace

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
    static const bool accessibleInstalled = (QAccessible::installFactory(&clickableLabelAccessible), true);
    Q_UNUSED(accessibleInstalled);
    m_clickable = clickable;
    setFocusPolicy(clickable ? Qt::StrongFocus : Qt::NoFocus);
    if (clickable)
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}

void RoundedLabel::click()
{
    if (m_clickable)
        Q_EMIT clicked();
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
    // The focus shows only where it came from the keyboard, as on buttons.
    if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), m_radius, m_radius);
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

void RoundedLabel::keyPressEvent(QKeyEvent* event)
{
    if (m_clickable && event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        event->accept();
        click();
        return;
    }
    ElidedLabel::keyPressEvent(event);
}

} // namespace pondra
