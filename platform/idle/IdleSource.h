#pragma once

#include <memory>
#include <optional>

class QProcessEnvironment;

namespace pondra {

/**
 * Seconds since the user last touched the keyboard or a pointing device,
 * system-wide.
 */
class IdleSource
{
public:
    virtual ~IdleSource() = default;

    /**
     * The latest reading in seconds, or nothing while no reading has
     * succeeded yet. Never blocks: a source that has to ask another process
     * starts a new request here and answers with the reading it already has,
     * and a failed request leaves that reading as it was.
     */
    virtual std::optional<double> latestIdleSeconds() = 0;
};

/// True when the desktop session is a Wayland one (the program then runs on
/// XWayland, where the X server only sees input sent to X clients).
bool isWaylandSession(const QProcessEnvironment& environment);

/// The idle source of this desktop: the desktop's D-Bus idle services on
/// Wayland, the X server's screen-saver extension on X11.
std::unique_ptr<IdleSource> makeSystemIdleSource();

} // namespace pondra
