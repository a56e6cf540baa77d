#pragma once

#include "platform/idle/IdleSource.h"

struct _XDisplay;

namespace pondra {

/// Idle time from the X server's MIT-SCREEN-SAVER extension, on Qt's own
/// X connection (so it needs Qt's xcb platform).
class X11IdleSource final : public IdleSource
{
public:
    X11IdleSource();
    ~X11IdleSource() override;
    X11IdleSource(const X11IdleSource&) = delete;
    X11IdleSource& operator=(const X11IdleSource&) = delete;

    std::optional<double> latestIdleSeconds() override;

private:
    _XDisplay* m_display = nullptr;
    void* m_info = nullptr; // XScreenSaverInfo, kept for the life of the source
    std::optional<double> m_latest;
};

} // namespace pondra
