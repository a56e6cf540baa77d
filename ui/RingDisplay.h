#pragma once

#include "records/Rings.h"

#include <QGuiApplication>
#include <QString>

#include <memory>
#include <optional>

class QWidget;

namespace pondra {

class CompositingQuery;
class CursorRingWindow;
class PeripheralGlowWindow;
class PointerAndScreens;

/// What the glow and the cursor-ring overlay ask the system; anything left
/// empty is the platform's own.
struct RingDisplayBackends
{
    std::shared_ptr<PointerAndScreens> pointer;
    std::shared_ptr<CompositingQuery> compositing;

    /// The same with every empty backend filled in with the real one.
    RingDisplayBackends completed() const;
};

namespace ringDisplay {

/**
 * Whether the glow and the cursor-ring overlay can work on the window system
 * `platformName`: they need X11 (windows placed anywhere and kept above the
 * others, the pointer read anywhere), which Wayland does not give a client.
 * The offscreen platform of the tests passes too. When not, one info line
 * says the program runs without them.
 */
bool isAvailable(const QString& platformName = QGuiApplication::platformName());

/**
 * Shows the glow and the overlay for a ring, or hides both when there is
 * none. On a ring the glow comes first, then the overlay, then the glow is
 * raised again, so it stays above the overlay. A window that was not made
 * (null) is skipped.
 */
void present(const std::optional<IncomingRing>& ring, PeripheralGlowWindow* glow, CursorRingWindow* overlay);

/// Sets up `window` as a click-through window above every other one, on
/// every workspace, never focused, outside the window manager's control, and
/// registers it under `identifier`. Call once, before it is first shown.
void setUpOverlayWindow(QWidget& window, const QString& identifier);

} // namespace ringDisplay
} // namespace pondra
