#include "ui/ring/RingDisplay.h"

#include "platform/compositing/CompositingQuery.h"
#include "platform/pointer/PointerAndScreens.h"
#include "ui/kit/WindowFinder.h"

#include <QWidget>

namespace pondra {

RingDisplayBackends RingDisplayBackends::completed() const
{
    RingDisplayBackends out = *this;
    if (!out.pointer)
        out.pointer = makeDefaultPointerAndScreens();
    if (!out.compositing)
        out.compositing = makeDefaultCompositingQuery();
    return out;
}

namespace ringDisplay {

void setUpOverlayWindow(QWidget& window, const QString& identifier)
{
    // Bypassing the window manager keeps the window on every workspace and
    // above the managed windows, and lets it go exactly where it is put.
    window.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                          Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                          Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint);
    window.setAttribute(Qt::WA_ShowWithoutActivating);
    window.setAttribute(Qt::WA_X11DoNotAcceptFocus);
    window.setFocusPolicy(Qt::NoFocus);
    window.setObjectName(identifier);
    window.setWindowRole(identifier);
    WindowRegistry::instance().add(&window);
}

} // namespace ringDisplay
} // namespace pondra
