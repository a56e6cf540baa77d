#pragma once

#include <QList>
#include <QPoint>
#include <QRect>

#include <memory>
#include <optional>

namespace pondra {

/// One screen, in global coordinates with y growing downwards.
struct ScreenArea
{
    /// The whole screen.
    QRect frame;
    /// The part that windows may use: the frame less panels and docks.
    QRect visibleFrame;

    bool operator==(const ScreenArea&) const = default;
};

/**
 * Where the mouse pointer is and which screens there are, in the global,
 * device-independent coordinates that windows are placed in. Asked afresh at
 * every call: screens come and go, and the pointer moves.
 */
class PointerAndScreens
{
public:
    virtual ~PointerAndScreens() = default;
    virtual QPoint pointerPosition() const = 0;
    /// Every screen, in the window system's order.
    virtual QList<ScreenArea> screens() const = 0;
    /// The primary screen; none while there is no screen at all.
    virtual std::optional<ScreenArea> primaryScreen() const = 0;
};

/// The pointer and screens of the platform in use (QCursor, QGuiApplication).
std::shared_ptr<PointerAndScreens> makeDefaultPointerAndScreens();

} // namespace pondra
