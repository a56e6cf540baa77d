#pragma once

class QWidget;

namespace pondra {

/**
 * Keeps a top-level window out of taskbars and pagers on X11: it carries
 * `_NET_WM_STATE_SKIP_TASKBAR` and `_NET_WM_STATE_SKIP_PAGER` in its
 * `_NET_WM_STATE` from its first show on, written before each map so that a
 * window manager finds them when it takes the window on (window managers
 * drop the property when a window is withdrawn, so a hidden window shown
 * again gets them anew), and asked of the window manager once the show is
 * done where Qt made the native window anew while showing it. The window's
 * other states stay as they are. Does nothing on other platforms. Call once,
 * before the first show.
 */
void keepOutOfTaskbarAndPager(QWidget& window);

} // namespace pondra
