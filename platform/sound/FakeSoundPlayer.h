#pragma once

#include "platform/sound/SoundPlayer.h"

#include <QStringList>

namespace pondra {

/// Records what was played; `available` decides whether playing succeeds.
class FakeSoundPlayer final : public SoundPlayer
{
public:
    bool play(const QString& name) override
    {
        played << name;
        return available;
    }

    QStringList played;
    bool available = true;
};

} // namespace pondra
