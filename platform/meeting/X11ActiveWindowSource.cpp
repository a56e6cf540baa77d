#include "platform/meeting/ActiveWindow.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>

namespace pondra {

namespace {

// Errors on a window that went away between two reads must not end the program.
int ignoreXError(Display*, XErrorEvent*)
{
    return 0;
}

std::optional<unsigned long> cardinalProperty(Display* display, Window window, Atom property, Atom type)
{
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, property, 0, 1, False, type, &actualType, &format, &count, &remaining, &data)
            != Success
        || !data)
        return std::nullopt;
    std::optional<unsigned long> value;
    if (actualType == type && format == 32 && count == 1)
        value = *reinterpret_cast<unsigned long*>(data);
    XFree(data);
    return value;
}

} // namespace

struct X11ActiveWindowSource::Impl
{
    Display* display = nullptr;
    Atom activeWindow = None;
    Atom wmPid = None;
};

X11ActiveWindowSource::X11ActiveWindowSource() = default;

X11ActiveWindowSource::~X11ActiveWindowSource()
{
    if (d && d->display)
        XCloseDisplay(d->display);
}

std::optional<ActiveWindow> X11ActiveWindowSource::activeWindow()
{
    std::lock_guard lock(m_mutex);
    if (!d) {
        d = std::make_unique<Impl>();
        const char* name = std::getenv("DISPLAY");
        if (name && *name) {
            XSetErrorHandler(&ignoreXError);
            d->display = XOpenDisplay(name);
        }
        if (d->display) {
            d->activeWindow = XInternAtom(d->display, "_NET_ACTIVE_WINDOW", False);
            d->wmPid = XInternAtom(d->display, "_NET_WM_PID", False);
        }
    }
    Display* display = d->display;
    if (!display)
        return std::nullopt;
    const auto window = cardinalProperty(display, DefaultRootWindow(display), d->activeWindow, XA_WINDOW);
    if (!window || *window == None)
        return std::nullopt;
    ActiveWindow active;
    active.pid = qint64(cardinalProperty(display, Window(*window), d->wmPid, XA_CARDINAL).value_or(0));
    XClassHint hint{};
    if (XGetClassHint(display, Window(*window), &hint)) {
        if (hint.res_class)
            active.windowClass = QString::fromLocal8Bit(hint.res_class);
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    return active;
}

} // namespace pondra
