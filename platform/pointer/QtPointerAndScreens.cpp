#include "platform/pointer/QtPointerAndScreens.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace pondra {

namespace {
ScreenArea areaOf(const QScreen& screen)
{
    return ScreenArea{screen.geometry(), screen.availableGeometry()};
}
} // namespace

QPoint QtPointerAndScreens::pointerPosition() const
{
    return QCursor::pos();
}

QList<ScreenArea> QtPointerAndScreens::screens() const
{
    QList<ScreenArea> out;
    for (const QScreen* screen : QGuiApplication::screens())
        out.append(areaOf(*screen));
    return out;
}

std::optional<ScreenArea> QtPointerAndScreens::primaryScreen() const
{
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        return areaOf(*screen);
    return std::nullopt;
}

std::shared_ptr<PointerAndScreens> makeDefaultPointerAndScreens()
{
    return std::make_shared<QtPointerAndScreens>();
}

} // namespace pondra
