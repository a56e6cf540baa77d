#pragma once

#include "platform/tray/PanelBackground.h"

namespace pondra {

/// Reads the panel's pixels beside the window, through the application's own
/// X connection: in the nearest window around it that is larger than the
/// window itself (hosts often wrap each icon in a window of exactly its size).
class X11PanelBackground final : public PanelBackground
{
public:
    std::optional<QColor> around(quintptr window) const override;
};

} // namespace pondra
