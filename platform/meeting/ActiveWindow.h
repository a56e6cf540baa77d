#pragma once

#include <QString>

#include <memory>
#include <mutex>
#include <optional>

namespace pondra {

/// The window that has the focus, as its owner describes it.
struct ActiveWindow
{
    /// _NET_WM_PID: the pid in the owner's own pid namespace; 0 when not set.
    qint64 pid = 0;
    /// The WM_CLASS class part (e.g. "zoom", "Slack", "org.mozilla.firefox").
    QString windowClass;
};

/// Where the focused window is found.
class ActiveWindowSource
{
public:
    virtual ~ActiveWindowSource() = default;
    /// None when there is no focused window or no X11 display.
    virtual std::optional<ActiveWindow> activeWindow() = 0;
};

/// _NET_ACTIVE_WINDOW on the X11 display named by $DISPLAY. Opened on first use.
class X11ActiveWindowSource final : public ActiveWindowSource
{
public:
    X11ActiveWindowSource();
    ~X11ActiveWindowSource() override;
    std::optional<ActiveWindow> activeWindow() override;

private:
    struct Impl;
    std::mutex m_mutex;
    std::unique_ptr<Impl> d;
};

} // namespace pondra
