#pragma once

#include "platform/pointer/PointerAndScreens.h"

namespace pondra {

/// A pointer and screens that the test sets; the first screen is the primary one.
class FakePointerAndScreens final : public PointerAndScreens
{
public:
    QPoint pointerPosition() const override
    {
        ++pointerReads;
        return pointer;
    }
    QList<ScreenArea> screens() const override { return screenList; }
    std::optional<ScreenArea> primaryScreen() const override
    {
        if (screenList.isEmpty())
            return std::nullopt;
        return screenList.first();
    }

    QPoint pointer;
    QList<ScreenArea> screenList;
    mutable int pointerReads = 0;
};

} // namespace pondra
