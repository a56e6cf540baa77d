#pragma once

#include <QColor>
#include <QtGlobal>

#include <memory>
#include <optional>

namespace pondra {

/**
 * The colour of the panel around a tray icon that the panel took in as a
 * window of its own (an XEmbed tray). Such a panel takes pixels only and
 * never says which colour its icons should be drawn in, so the icon looks
 * at what surrounds it.
 */
class PanelBackground
{
public:
    virtual ~PanelBackground() = default;
    /// The mean colour of the panel's pixels just around the native window
    /// `window`; none where the window is not embedded or nothing around it
    /// can be read.
    virtual std::optional<QColor> around(quintptr window) const = 0;
};

/// The X11 reading where the platform is xcb; elsewhere one that knows nothing.
std::shared_ptr<PanelBackground> makeDefaultPanelBackground();

} // namespace pondra
