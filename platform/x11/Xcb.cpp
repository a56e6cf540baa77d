#include "platform/x11/Xcb.h"

#include <QGuiApplication>

namespace pondra::xcb {

xcb_atom_t internAtom(xcb_connection_t* connection, QByteArrayView name, bool onlyIfExists)
{
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, onlyIfExists, quint16(name.size()), name.data()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_connection_t* applicationConnection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

} // namespace pondra::xcb
