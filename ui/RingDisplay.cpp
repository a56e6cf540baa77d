#include "ui/RingDisplay.h"

#include "platform/compositing/CompositingQuery.h"
#include "platform/core/Log.h"
#include "platform/pointer/PointerAndScreens.h"
#include "ui/CursorRingWindow.h"
#include "ui/PeripheralGlowView.h"
#include "ui/WindowFinder.h"

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

bool isAvailable(const QString& platformName)
{
    if (platformName == QLatin1String("xcb") || platformName == QLatin1String("offscreen"))
        return true;
    logInfo(lcApp,
            "Window system %s is not X11: running without the screen-edge glow and the cursor ring overlay",
            platformName);
    return false;
}

void present(const std::optional<IncomingRing>& ring, PeripheralGlowWindow* glow, CursorRingWindow* overlay)
{
    if (!ring) {
        if (glow)
            glow->hide();
        if (overlay)
            overlay->hide();
        return;
    }
    if (glow)
        glow->show();
    if (overlay)
        overlay->show(ring->from, ring->photo);
    if (glow)
        glow->raise();
}

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
