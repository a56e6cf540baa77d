#pragma once

#include <QByteArray>

#include <vector>

namespace pondra {

/**
 * The window-system platform, chosen before the application object exists:
 * X11 (xcb) whenever an X display is there and the user did not name a
 * platform, also in a Wayland session, because the overlays need to place
 * themselves on the screen; and on X11 the window contents sent in the
 * requests, not through shared memory. While it lives, QT_QPA_PLATFORM and
 * QT_XCB_NO_MITSHM say so (where the user did not set them); its end puts
 * the variables back, so programs started later do not inherit them.
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
    void setUnlessSet(const char* name, const QByteArray& value);

    /// The variables set here, to be taken away again.
    std::vector<const char*> m_set;
};

} // namespace pondra
