#include "ui/kit/TextStyles.h"

#include <QGuiApplication>

namespace pondra::text {

QFont system(int pixelSize, QFont::Weight weight)
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont largeTitle()
{
    return system(26);
}
QFont headline()
{
    return system(13, QFont::DemiBold);
}
QFont body()
{
    return system(13);
}
QFont subheadline()
{
    return system(11);
}
QFont caption()
{
    return system(10);
}

} // namespace pondra::text
