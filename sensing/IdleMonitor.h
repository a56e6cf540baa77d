#pragma once

#include "platform/core/Published.h"
#include "platform/core/Scheduler.h"
#include "platform/idle/IdleSource.h"

#include <QObject>
#include <QString>

#include <memory>

namespace pondra {

/// How long the user has not touched the keyboard or a pointing device,
/// polled once a second.
class IdleMonitor final : public QObject
{
    Q_OBJECT
public:
    /// Seconds since the last input event, fractional.
    Owned<double, IdleMonitor> idleSeconds{0.0};
    /// Whether `idleSeconds` has reached `idleThreshold`.
    Owned<bool, IdleMonitor> isIdle{false};
    /// Seconds of no input after which the user counts as idle.
    double idleThreshold = 60.0;

    explicit IdleMonitor(std::unique_ptr<IdleSource> source = makeSystemIdleSource(),
                         Scheduler& scheduler = RealScheduler::instance(), QObject* parent = nullptr);
    ~IdleMonitor() override;

    void startMonitoring();
    void stopMonitoring();

    /// "m:ss", or "h:mm:ss" from one hour on.
    QString formattedIdleTime() const;
    /// "Idle" or "Active".
    QString statusText() const;

Q_SIGNALS:
    /// A published value was assigned (also with an equal value).
    void changed();

private:
    void onTick();
    void updateIdleTime();

    std::unique_ptr<IdleSource> m_source;
    Scheduler& m_scheduler;
    std::optional<TimerHandle> m_timer;
};

} // namespace pondra
