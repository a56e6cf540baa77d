#pragma once

#include "platform/pointer/PointerAndScreens.h"

namespace pondra {

/// The pointer from QCursor, the screens from QGuiApplication.
class QtPointerAndScreens final : public PointerAndScreens
{
public:
    QPoint pointerPosition() const override;
    QList<ScreenArea> screens() const override;
    std::optional<ScreenArea> primaryScreen() const override;
};

} // namespace pondra
