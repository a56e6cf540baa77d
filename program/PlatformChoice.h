#pragma once

#include <QByteArray>

namespace pondra {

/**
 * The window-system platform, chosen before the application object exists:
 * X11 (xcb) whenever an X display is there and the user did not name a
 * platform, also in a Wayland session, because the overlays need to place
 * themselves on the screen. While it lives, QT_QPA_PLATFORM says so; its end
 * puts the variable back, so programs started later do not inherit it.
 */
class PlatformChoice final
{
public:
    PlatformChoice();
    ~PlatformChoice();
    PlatformChoice(const PlatformChoice&) = delete;
    PlatformChoice& operator=(const PlatformChoice&) = delete;

    /// Whether the overlays (glow and cursor bubble) can run on the platform
    /// in use; logs once when they cannot. Call after the application exists.
    static bool overlaysAvailable();

private:
    bool m_forced = false;
};

} // namespace pondra
