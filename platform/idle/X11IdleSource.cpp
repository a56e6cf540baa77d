#include "platform/idle/X11IdleSource.h"

#include "platform/core/Log.h"

#include <QGuiApplication>

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace pondra {

// Note: the X server counts more than input as activity. A program that calls
// XResetScreenSaver (video players do, to keep the screen awake) resets the
// idle time that MIT-SCREEN-SAVER reports, so watching a video counts as
// being active even without touching the keyboard or mouse.

X11IdleSource::X11IdleSource()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    Display* display = x11 ? x11->display() : nullptr;
    if (!display) {
        logInfo(lcApp, "Idle time unavailable: not running on an X11 display");
        return;
    }
    int eventBase = 0;
    int errorBase = 0;
    if (!XScreenSaverQueryExtension(display, &eventBase, &errorBase)) {
        logInfo(lcApp, "Idle time unavailable: the X server has no screen saver extension");
        return;
    }
    m_display = display;
    m_info = XScreenSaverAllocInfo();
}

X11IdleSource::~X11IdleSource()
{
    if (m_info)
        XFree(m_info);
}

std::optional<double> X11IdleSource::latestIdleSeconds()
{
    if (!m_display || !m_info)
        return m_latest;
    auto* info = static_cast<XScreenSaverInfo*>(m_info);
    if (XScreenSaverQueryInfo(m_display, DefaultRootWindow(m_display), info))
        m_latest = double(info->idle) / 1000.0; // milliseconds
    return m_latest;
}

} // namespace pondra
