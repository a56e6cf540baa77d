#pragma once

#include <QString>

#include <memory>

class QWidget;

namespace pondra {

class CompositingQuery;
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

/// Sets up `window` as a click-through window above every other one, on
/// every workspace, never focused, outside the window manager's control, and
/// registers it under `identifier` (object name and X11 role). Call once,
/// before it is first shown.
void setUpOverlayWindow(QWidget& window, const QString& identifier);

} // namespace ringDisplay
} // namespace pondra
