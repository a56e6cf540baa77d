#pragma once

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

struct xcb_connection_t;

namespace pondra::test {

/**
 * Reads what the X server itself holds about windows, over a connection of
 * its own (not the one the program under test draws on), so a test sees what
 * other clients see: mapped or not, override-redirect, where, how deep, the
 * role, and the stacking order.
 */
class X11Probe final
{
public:
    explicit X11Probe(const QString& display);
    ~X11Probe();
    X11Probe(const X11Probe&) = delete;
    X11Probe& operator=(const X11Probe&) = delete;

    bool isConnected() const;

    struct WindowFacts
    {
        bool exists = false;
        bool overrideRedirect = false;
        bool viewable = false;
        /// In root coordinates.
        QRect geometry;
        int depth = 0;
        QString role;
        /// The atoms of its `_NET_WM_STATE`, by name, in the property's order.
        QStringList states;
    };
    WindowFacts facts(quint32 window) const;
    /// The root window's children, bottom to top.
    QList<quint32> stacking() const;
    /// A window manager runs (it names its check window on the root).
    bool hasWindowManager() const;
    /// The windows a window manager has taken on (the root's `_NET_CLIENT_LIST`);
    /// empty without a window manager.
    QList<quint32> managedWindows() const;
    /// What the screen shows in `area` (root coordinates), as a screenshot tool
    /// sees it: translucent windows as the compositing manager blended them.
    /// Null when it cannot be read.
    QImage grab(const QRect& area) const;

private:
    quint32 atom(const char* name) const;
    /// A format-32 property (atoms, windows) of `window`; empty when it has none.
    QList<quint32> list32(quint32 window, const char* property) const;

    xcb_connection_t* m_connection = nullptr;
    quint32 m_root = 0;
    quint8 m_rootDepth = 0;
};

} // namespace pondra::test
