#include "sensing/IdleMonitor.h"

#include <cmath>

namespace pondra {

using namespace std::chrono_literals;

IdleMonitor::IdleMonitor(std::unique_ptr<IdleSource> source, Scheduler& scheduler, QObject* parent)
    : QObject(parent), m_source(std::move(source)), m_scheduler(scheduler)
{
    idleSeconds.setChangeHook([this] { Q_EMIT changed(); });
    isIdle.setChangeHook([this] { Q_EMIT changed(); });
    startMonitoring();
}

IdleMonitor::~IdleMonitor()
{
    stopMonitoring();
}

void IdleMonitor::startMonitoring()
{
    // Never two timers: a second call replaces the first.
    stopMonitoring();
    m_timer = m_scheduler.every(1s, this, [this] { onTick(); });
}

void IdleMonitor::stopMonitoring()
{
    if (m_timer) {
        m_timer->cancel();
        m_timer.reset();
    }
}

void IdleMonitor::onTick()
{
    // The reading runs one turn later, and not at all once the monitor is gone.
    m_scheduler.post(this, [this] { updateIdleTime(); });
}

void IdleMonitor::updateIdleTime()
{
    // A reading that is not a number or negative is no reading at all: it
    // would reach the presence update and the clock text. The previous value
    // is assigned again, as on any tick without a fresh reading.
    double value = idleSeconds.get();
    if (const auto reading = m_source ? m_source->latestIdleSeconds() : std::nullopt;
        reading && std::isfinite(*reading) && *reading >= 0)
        value = *reading;
    idleSeconds.set(value);
    isIdle.set(value >= idleThreshold);
}

QString IdleMonitor::formattedIdleTime() const
{
    // Whole seconds, bounded before the integer conversion so that no reading
    // (not a number, negative, or beyond any clock) is undefined behaviour.
    constexpr double largest = 9007199254740992.0; // 2^53, exact as a double
    const double seconds = idleSeconds.get();
    qint64 total = 0;
    if (seconds >= largest)
        total = qint64(largest);
    else if (seconds > 0)
        total = qint64(seconds); // truncates toward zero
    const qint64 hours = total / 3600;
    const qint64 minutes = (total % 3600) / 60;
    const qint64 secs = total % 60;
    if (hours > 0)
        return QString::asprintf("%lld:%02lld:%02lld", qlonglong(hours), qlonglong(minutes), qlonglong(secs));
    return QString::asprintf("%lld:%02lld", qlonglong(minutes), qlonglong(secs));
}

QString IdleMonitor::statusText() const
{
    return isIdle.get() ? QStringLiteral("Idle") : QStringLiteral("Active");
}

} // namespace pondra
