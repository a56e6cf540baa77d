#pragma once

#include "platform/session/SessionEventSource.h"

namespace pondra {

/// Session events that a test sends by hand.
class FakeSessionEvents final : public SessionEventSource
{
    Q_OBJECT
public:
    using SessionEventSource::SessionEventSource;

    void lock() { Q_EMIT screenLocked(); }
    void unlock() { Q_EMIT screenUnlocked(); }
    void wake() { Q_EMIT systemWoke(); }
};

} // namespace pondra
