#include "X11Probe.h"

#include "platform/x11/Xcb.h"

#include <cstring>

namespace pondra::test {

using xcb::Reply;

X11Probe::X11Probe(const QString& display)
{
    int screenNumber = 0;
    m_connection = xcb_connect(display.toLatin1().constData(), &screenNumber);
    if (xcb_connection_has_error(m_connection))
        return;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    if (it.rem) {
        m_root = it.data->root;
        m_rootDepth = it.data->root_depth;
    }
}

X11Probe::~X11Probe()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool X11Probe::isConnected() const
{
    return m_connection && !xcb_connection_has_error(m_connection) && m_root != 0;
}

X11Probe::WindowFacts X11Probe::facts(quint32 window) const
{
    WindowFacts out;
    if (!isConnected())
        return out;
    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
        m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr));
    Reply<xcb_translate_coordinates_reply_t> origin(xcb_translate_coordinates_reply(
        m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr));
    if (!attributes || !geometry || !origin)
        return out;
    out.exists = true;
    out.overrideRedirect = attributes->override_redirect;
    out.viewable = attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    out.geometry = QRect(origin->dst_x, origin->dst_y, geometry->width, geometry->height);
    out.depth = geometry->depth;

    if (const xcb_atom_t roleAtom = atom("WM_WINDOW_ROLE")) {
        Reply<xcb_get_property_reply_t> role(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, roleAtom, XCB_ATOM_STRING, 0, 1024),
            nullptr));
        if (role && role->format == 8)
            out.role = QString::fromLatin1(static_cast<const char*>(xcb_get_property_value(role.get())),
                                           xcb_get_property_value_length(role.get()));
    }
    for (const quint32 state : list32(window, "_NET_WM_STATE")) {
        Reply<xcb_get_atom_name_reply_t> name(
            xcb_get_atom_name_reply(m_connection, xcb_get_atom_name(m_connection, state), nullptr));
        if (name)
            out.states.append(QString::fromLatin1(xcb_get_atom_name_name(name.get()),
                                                  xcb_get_atom_name_name_length(name.get())));
    }
    return out;
}

QList<quint32> X11Probe::stacking() const
{
    QList<quint32> out;
    if (!isConnected())
        return out;
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
    if (!tree)
        return out;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i)
        out.append(children[i]);
    return out;
}

bool X11Probe::hasWindowManager() const
{
    return isConnected() && !list32(m_root, "_NET_SUPPORTING_WM_CHECK").isEmpty();
}

QList<quint32> X11Probe::managedWindows() const
{
    return isConnected() ? list32(m_root, "_NET_CLIENT_LIST") : QList<quint32>();
}

quint32 X11Probe::atom(const char* name) const
{
    return xcb::internAtom(m_connection, name, true);
}

QList<quint32> X11Probe::list32(quint32 window, const char* property) const
{
    QList<quint32> out;
    const xcb_atom_t name = atom(property);
    if (name == XCB_ATOM_NONE)
        return out;
    // Atoms and windows alike are 32-bit values in a format-32 property.
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
        nullptr));
    if (!reply || reply->format != 32)
        return out;
    const auto* values = static_cast<const quint32*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    for (int i = 0; i < count; ++i)
        out.append(values[i]);
    return out;
}

QImage X11Probe::grab(const QRect& area) const
{
    if (!isConnected() || area.isEmpty())
        return {};
    // Copied from the root with its inferiors, the pixels are those the
    // compositing manager painted on the root. GetImage on the root instead
    // has the server paint each redirected window's own pixels into it, which
    // shows the transparent parts of 32-bit windows as black.
    const xcb_pixmap_t pixmap = xcb_generate_id(m_connection);
    xcb_create_pixmap(m_connection, m_rootDepth, pixmap, m_root, quint16(area.width()),
                      quint16(area.height()));
    const xcb_gcontext_t gc = xcb_generate_id(m_connection);
    const quint32 includeInferiors = XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS;
    xcb_create_gc(m_connection, gc, pixmap, XCB_GC_SUBWINDOW_MODE, &includeInferiors);
    xcb_copy_area(m_connection, m_root, pixmap, gc, qint16(area.x()), qint16(area.y()), 0, 0,
                  quint16(area.width()), quint16(area.height()));
    Reply<xcb_get_image_reply_t> image(
        xcb_get_image_reply(m_connection,
                            xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, 0, 0,
                                          quint16(area.width()), quint16(area.height()), ~0u),
                            nullptr));
    xcb_free_gc(m_connection, gc);
    xcb_free_pixmap(m_connection, pixmap);
    // A 24-bit screen in 32-bit pixels, least significant byte first: Xvfb's layout, and QImage's RGB32.
    const qsizetype bytes = qsizetype(area.width()) * area.height() * 4;
    if (!image || image->depth != 24 ||
        xcb_get_setup(m_connection)->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST ||
        xcb_get_image_data_length(image.get()) != bytes)
        return {};
    QImage out(area.size(), QImage::Format_RGB32);
    const uint8_t* data = xcb_get_image_data(image.get());
    for (int y = 0; y < area.height(); ++y)
        std::memcpy(out.scanLine(y), data + qsizetype(y) * area.width() * 4, std::size_t(area.width()) * 4);
    return out;
}

} // namespace pondra::test
