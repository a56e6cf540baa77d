#pragma once

#include "platform/tray/PanelBackground.h"

namespace pondra {

/// Answers what the test set, for any window.
class FakePanelBackground final : public PanelBackground
{
public:
    std::optional<QColor> around(quintptr) const override
    {
        ++readings;
        return colour;
    }

    std::optional<QColor> colour;
    mutable int readings = 0;
};

} // namespace pondra
