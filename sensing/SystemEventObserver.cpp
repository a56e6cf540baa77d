#include "sensing/SystemEventObserver.h"

#include "platform/session/LogindSessionEvents.h"

namespace pondra {

SystemEventObserver::SystemEventObserver(std::function<void()> onScreenLock,
                                         std::function<void()> onSystemWake,
                                         std::unique_ptr<SessionEventSource> events, Scheduler& scheduler,
                                         QObject* parent)
    : QObject(parent), m_onScreenLock(std::move(onScreenLock)), m_onSystemWake(std::move(onSystemWake)),
      m_events(std::move(events)), m_scheduler(scheduler)
{
    isScreenLocked.setChangeHook([this] { Q_EMIT changed(); });
    // Connections with this observer as receiver end with it, as do the posts
    // below: after teardown a report reaches nothing.
    if (m_events) {
        connect(m_events.get(), &SessionEventSource::screenLocked, this,
                &SystemEventObserver::onScreenLocked);
        connect(m_events.get(), &SessionEventSource::screenUnlocked, this,
                &SystemEventObserver::onScreenUnlocked);
        connect(m_events.get(), &SessionEventSource::systemWoke, this, &SystemEventObserver::onSystemWoke);
    }
}

std::unique_ptr<SessionEventSource> SystemEventObserver::makeSystemSessionEvents()
{
    return std::make_unique<LogindSessionEvents>();
}

// Each report is handled one main-loop turn later, never inside the delivery.
void SystemEventObserver::onScreenLocked()
{
    m_scheduler.post(this, [this] {
        // The flag first, so subscribers see the lock before the action runs.
        isScreenLocked.set(true);
        if (m_onScreenLock)
            m_onScreenLock();
    });
}

void SystemEventObserver::onScreenUnlocked()
{
    m_scheduler.post(this, [this] { isScreenLocked.set(false); });
}

void SystemEventObserver::onSystemWoke()
{
    m_scheduler.post(this, [this] {
        if (m_onSystemWake)
            m_onSystemWake();
    });
}

} // namespace pondra
