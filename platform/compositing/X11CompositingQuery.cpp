#include "platform/compositing/X11CompositingQuery.h"

#include "platform/x11/Xcb.h"

#include <QGuiApplication>

namespace pondra {

X11CompositingQuery::X11CompositingQuery(QByteArray display) : m_display(std::move(display)) {}

X11CompositingQuery::~X11CompositingQuery()
{
    disconnect();
}

bool X11CompositingQuery::connect() const
{
    if (m_connection && !xcb_connection_has_error(m_connection))
        return true;
    disconnect();
    const QByteArray display = m_display.isEmpty() ? qgetenv("DISPLAY") : m_display;
    if (display.isEmpty())
        return false;
    m_connection = xcb_connect(display.constData(), &m_screen);
    if (xcb_connection_has_error(m_connection)) {
        disconnect();
        return false;
    }
    return true;
}

void X11CompositingQuery::disconnect() const
{
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
}

bool X11CompositingQuery::isCompositing() const
{
    if (!connect())
        return false;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(m_screen);
    const xcb_atom_t atom = xcb::internAtom(m_connection, name);
    if (atom == XCB_ATOM_NONE)
        return false;
    const xcb::Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(m_connection, xcb_get_selection_owner(m_connection, atom), nullptr));
    return owner && owner->owner != XCB_WINDOW_NONE;
}

namespace {
class AlwaysCompositing final : public CompositingQuery
{
public:
    bool isCompositing() const override { return true; }
};
} // namespace

std::shared_ptr<CompositingQuery> makeDefaultCompositingQuery()
{
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return std::make_shared<AlwaysCompositing>();
    return std::make_shared<X11CompositingQuery>();
}

} // namespace pondra
