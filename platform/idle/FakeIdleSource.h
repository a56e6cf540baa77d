#pragma once

#include "platform/idle/IdleSource.h"

namespace pondra {

/// An idle source whose reading the test sets.
class FakeIdleSource final : public IdleSource
{
public:
    std::optional<double> latestIdleSeconds() override
    {
        ++readings;
        return reading;
    }

    std::optional<double> reading;
    int readings = 0;
};

} // namespace pondra
