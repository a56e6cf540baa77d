#include "platform/tray/X11PanelBackground.h"

#include "platform/x11/Xcb.h"

#include <QGuiApplication>
#include <QRect>

namespace pondra {

namespace {

// The panel's windows belong to another client and can go at any moment.
using xcb::ask;

/// How many windows up the tree to look for one larger than the icon.
constexpr int levels = 4;
/// The width of the band around the icon that is read.
constexpr int band = 2;

const xcb_visualtype_t* visualType(const xcb_setup_t* setup, xcb_visualid_t id)
{
    for (auto roots = xcb_setup_roots_iterator(setup); roots.rem; xcb_screen_next(&roots)) {
        for (auto depths = xcb_screen_allowed_depths_iterator(roots.data); depths.rem;
             xcb_depth_next(&depths)) {
            for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem;
                 xcb_visualtype_next(&visuals)) {
                if (visuals.data->visual_id == id)
                    return visuals.data;
            }
        }
    }
    return nullptr;
}

int bitsPerPixel(const xcb_setup_t* setup, quint8 depth)
{
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats)) {
        if (formats.data->depth == depth)
            return formats.data->bits_per_pixel;
    }
    return 0;
}

/// One channel of a true-colour pixel, scaled to 0..255.
int channel(quint32 pixel, quint32 mask)
{
    if (mask == 0)
        return 0;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    const quint32 max = mask >> shift;
    return int(((pixel & mask) >> shift) * 255 / max);
}

/// The mean colour of `area` in `window`, leaving out `hole`; none when the
/// pixels cannot be read as true colour.
std::optional<QColor> meanColour(xcb_connection_t* connection, xcb_window_t window, const QRect& area,
                                 const QRect& hole)
{
    const auto image = ask<xcb_get_image_reply_t>(
        connection,
        xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, qint16(area.x()), qint16(area.y()),
                      quint16(area.width()), quint16(area.height()), ~0u),
        xcb_get_image_reply);
    if (!image)
        return std::nullopt;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const xcb_visualtype_t* visual = visualType(setup, image->visual);
    if (!visual || visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR || bitsPerPixel(setup, image->depth) != 32)
        return std::nullopt;
    const auto* data = xcb_get_image_data(image.get());
    const int length = xcb_get_image_data_length(image.get());
    const bool lsbFirst = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
    // Rows of 32-bit pixels are already a multiple of every scanline pad.
    const int stride = area.width() * 4;
    if (length < stride * area.height())
        return std::nullopt;
    qint64 red = 0, green = 0, blue = 0, count = 0;
    for (int y = 0; y < area.height(); ++y) {
        for (int x = 0; x < area.width(); ++x) {
            if (hole.contains(area.x() + x, area.y() + y))
                continue;
            const quint8* p = data + y * stride + x * 4;
            const quint32 pixel =
                lsbFirst ? quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24
                         : quint32(p[3]) | quint32(p[2]) << 8 | quint32(p[1]) << 16 | quint32(p[0]) << 24;
            red += channel(pixel, visual->red_mask);
            green += channel(pixel, visual->green_mask);
            blue += channel(pixel, visual->blue_mask);
            ++count;
        }
    }
    if (count == 0)
        return std::nullopt;
    return QColor(int(red / count), int(green / count), int(blue / count));
}

} // namespace

std::optional<QColor> X11PanelBackground::around(quintptr window) const
{
    xcb_connection_t* connection = xcb::applicationConnection();
    if (!connection || window == 0)
        return std::nullopt;

    auto child = xcb_window_t(window);
    const auto geometry = [connection](xcb_window_t of) {
        return ask<xcb_get_geometry_reply_t>(connection, xcb_get_geometry(connection, of),
                                             xcb_get_geometry_reply);
    };
    const auto own = geometry(child);
    if (!own)
        return std::nullopt;
    // The icon's rectangle, in the coordinates of the window looked at.
    QRect icon(0, 0, own->width, own->height);
    for (int level = 0; level < levels; ++level) {
        const auto tree =
            ask<xcb_query_tree_reply_t>(connection, xcb_query_tree(connection, child), xcb_query_tree_reply);
        // Up to the root without a panel: the icon is not embedded.
        if (!tree || tree->parent == XCB_WINDOW_NONE || tree->parent == tree->root)
            return std::nullopt;
        const auto placed = geometry(child);
        const auto parent = geometry(tree->parent);
        if (!placed || !parent)
            return std::nullopt;
        icon.translate(placed->x + placed->border_width, placed->y + placed->border_width);
        const QRect area =
            icon.adjusted(-band, -band, band, band) & QRect(0, 0, parent->width, parent->height);
        if (!icon.contains(area)) {
            if (const std::optional<QColor> colour = meanColour(connection, tree->parent, area, icon))
                return colour;
        }
        child = tree->parent;
    }
    return std::nullopt;
}

namespace {
class NoPanelBackground final : public PanelBackground
{
public:
    std::optional<QColor> around(quintptr) const override { return std::nullopt; }
};
} // namespace

std::shared_ptr<PanelBackground> makeDefaultPanelBackground()
{
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        return std::make_shared<X11PanelBackground>();
    return std::make_shared<NoPanelBackground>();
}

} // namespace pondra
