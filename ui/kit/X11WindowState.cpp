#include "ui/kit/X11WindowState.h"

#include "platform/x11/Xcb.h"

#include <QEvent>
#include <QList>
#include <QWidget>
#include <QWindow>

namespace pondra {

namespace {

using xcb::internAtom;
using xcb::Reply;

// Adds the two states to the window's `_NET_WM_STATE`, keeping the others.
// Written on a window that is not mapped yet, the property is what a window
// manager reads when it takes the window on; Qt merges its own states
// (above, modal...) into what it finds there when it maps the window. A
// window that is already mapped belongs to the window manager, which is
// asked as the window-manager conventions say: a message to the root window.
void addSkipStates(const QWindow& window, bool mapped)
{
    xcb_connection_t* connection = xcb::applicationConnection();
    if (!connection)
        return;
    // The window's own handle: Qt can replace the native window (a change of
    // the stays-on-top hint while hidden does), and the widget's id is then stale.
    const auto id = xcb_window_t(window.winId());
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t skipTaskbar = internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR");
    const xcb_atom_t skipPager = internAtom(connection, "_NET_WM_STATE_SKIP_PAGER");
    if (id == 0 || state == XCB_ATOM_NONE || skipTaskbar == XCB_ATOM_NONE || skipPager == XCB_ATOM_NONE)
        return;

    QList<xcb_atom_t> atoms;
    const Reply<xcb_get_property_reply_t> current(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, id, state, XCB_ATOM_ATOM, 0, 1024), nullptr));
    if (current && current->format == 32 && current->type == XCB_ATOM_ATOM) {
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(current.get()));
        const int count = xcb_get_property_value_length(current.get()) / int(sizeof(xcb_atom_t));
        atoms = QList<xcb_atom_t>(values, values + count);
    }
    const qsizetype before = atoms.size();
    for (const xcb_atom_t wanted : {skipTaskbar, skipPager}) {
        if (!atoms.contains(wanted))
            atoms.append(wanted);
    }
    if (atoms.size() == before)
        return;
    // Without a window manager the property is all there is; with one that
    // has not taken the window on yet, it is what it will read.
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                        quint32(atoms.size()), atoms.constData());
    if (mapped) {
        const Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(connection, xcb_query_tree(connection, id), nullptr));
        if (tree) {
            xcb_client_message_event_t message = {};
            message.response_type = XCB_CLIENT_MESSAGE;
            message.format = 32;
            message.window = id;
            message.type = state;
            message.data.data32[0] = 1; // _NET_WM_STATE_ADD
            message.data.data32[1] = skipTaskbar;
            message.data.data32[2] = skipPager;
            message.data.data32[3] = 1; // asked by an application
            xcb_send_event(connection, 0, tree->root,
                           XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                           reinterpret_cast<const char*>(&message));
        }
    }
    xcb_flush(connection);
}

/// Writes the states at each show, which a widget receives before its native
/// window is mapped, and checks them once the show is done, in case Qt made
/// the native window anew while showing it.
class SkipStatesOnShow final : public QObject
{
public:
    explicit SkipStatesOnShow(QWidget& window) : QObject(&window), m_window(window)
    {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &m_window && event->type() == QEvent::Show && m_window.isWindow()) {
            if (const QWindow* handle = m_window.windowHandle())
                addSkipStates(*handle, false);
            QMetaObject::invokeMethod(
                this,
                [this] {
                    const QWindow* handle = m_window.windowHandle();
                    if (handle && m_window.isVisible())
                        addSkipStates(*handle, true);
                },
                Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget& m_window;
};

} // namespace

void keepOutOfTaskbarAndPager(QWidget& window)
{
    new SkipStatesOnShow(window);
}

} // namespace pondra
