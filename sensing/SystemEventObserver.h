#pragma once

#include "platform/core/Published.h"
#include "platform/core/Scheduler.h"
#include "platform/session/SessionEventSource.h"

#include <QObject>

#include <functional>
#include <memory>

namespace pondra {

/// Turns screen lock, screen unlock and wake from sleep into a published flag
/// and two actions of its owner.
class SystemEventObserver final : public QObject
{
    Q_OBJECT
public:
    /// The last screen report was a lock. Starts false whatever the session says.
    Owned<bool, SystemEventObserver> isScreenLocked{false};

    SystemEventObserver(std::function<void()> onScreenLock, std::function<void()> onSystemWake,
                        std::unique_ptr<SessionEventSource> events = makeSystemSessionEvents(),
                        Scheduler& scheduler = RealScheduler::instance(), QObject* parent = nullptr);

    /// The desktop session's real event source.
    static std::unique_ptr<SessionEventSource> makeSystemSessionEvents();

Q_SIGNALS:
    /// A published value was assigned (also with an equal value).
    void changed();

private:
    void onScreenLocked();
    void onScreenUnlocked();
    void onSystemWoke();

    std::function<void()> m_onScreenLock;
    std::function<void()> m_onSystemWake;
    std::unique_ptr<SessionEventSource> m_events;
    Scheduler& m_scheduler;
};

} // namespace pondra
