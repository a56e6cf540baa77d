#include "ui/kit/Palette.h"

#include <QWidget>

namespace pondra::palette {

QColor green()
{
    return QColor(0x34, 0xc7, 0x59);
}
QColor yellow()
{
    return QColor(0xff, 0xcc, 0x00);
}
QColor gray()
{
    return QColor(0x8e, 0x8e, 0x93);
}
QColor orange()
{
    return QColor(0xff, 0x95, 0x00);
}
QColor purple()
{
    return QColor(0xaf, 0x52, 0xde);
}
QColor blue()
{
    return QColor(0x00, 0x7a, 0xff);
}
QColor red()
{
    return QColor(0xff, 0x3b, 0x30);
}
QColor white()
{
    return QColor(0xff, 0xff, 0xff);
}

QColor idleColor(IdleState state)
{
    switch (state.value()) {
    case IdleState::active:
        return green();
    case IdleState::semiIdle:
        return yellow();
    case IdleState::idle:
        break;
    }
    return gray();
}

QColor withOpacity(QColor colour, qreal opacity)
{
    colour.setAlphaF(float(colour.alphaF() * opacity));
    return colour;
}

QColor primary(const QPalette& palette)
{
    return palette.color(QPalette::WindowText);
}

QColor secondary(const QPalette& palette)
{
    return withOpacity(palette.color(QPalette::WindowText), 0.55);
}

QColor material(const QPalette& palette)
{
    return withOpacity(palette.color(QPalette::Window), 0.85);
}

QColor thinMaterial(const QPalette& palette)
{
    return withOpacity(palette.color(QPalette::Window), 0.4);
}

void setTextColour(QWidget& widget, const QColor& colour)
{
    QPalette p = widget.palette();
    if (p.color(QPalette::WindowText) == colour)
        return;
    p.setColor(QPalette::WindowText, colour);
    widget.setPalette(p);
}

} // namespace pondra::palette
