#include "Scheduler.h"

#include "Log.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QTimer>

#include <limits>

namespace pondra {

void TimerHandle::cancel()
{
    if (!m_state || m_state->cancelled)
        return;
    m_state->cancelled = true;
    if (auto onCancel = std::exchange(m_state->onCancel, {}))
        onCancel();
}

RealScheduler& RealScheduler::instance()
{
    static RealScheduler scheduler;
    return scheduler;
}

namespace {
TimerHandle startTimer(milliseconds interval, bool repeating, QObject* context, std::function<void()> step)
{
    auto state = std::make_shared<detail::TimerState>();
    auto* timer = new QTimer(context);
    timer->setSingleShot(!repeating);
    timer->setTimerType(Qt::PreciseTimer);
    QPointer<QTimer> guard(timer);
    const QPointer<QObject> contextGuard(context);
    const bool hadContext = context != nullptr;
    QObject::connect(timer, &QTimer::timeout, timer,
                     [state, guard, contextGuard, hadContext, repeating, step] {
                         if (state->cancelled || (hadContext && !contextGuard))
                             return;
                         if (!repeating) {
                             state->cancelled = true;
                             state->onCancel = {};
                             if (guard)
                                 guard->deleteLater();
                         }
                         step();
                     });
    state->onCancel = [guard] {
        if (guard) {
            guard->stop();
            guard->deleteLater();
        }
    };
    // QTimer holds an int of milliseconds: longer intervals are held at the
    // longest it can take (about 24.8 days) instead of wrapping.
    timer->start(std::min(interval, milliseconds(std::numeric_limits<int>::max())));
    return TimerHandle(state);
}

qint64 monotonicNow()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}
} // namespace

TimerHandle RealScheduler::after(milliseconds delay, QObject* context, std::function<void()> step)
{
    return startTimer(std::max(delay, milliseconds(0)), false, context, std::move(step));
}

TimerHandle RealScheduler::every(milliseconds period, QObject* context, std::function<void()> step)
{
    return startTimer(std::max(period, milliseconds(1)), true, context, std::move(step));
}

QDateTime RealScheduler::now() const
{
    return QDateTime::currentDateTimeUtc();
}

QTimeZone RealScheduler::timeZone() const
{
    // A zone the system names but cannot find (a mistyped TZ, a missing zone
    // file) counts as UTC, as the C library counts it, so that local-time
    // work such as the 03:00 clearing goes on. Said once per unknown name,
    // not at every check.
    static QMutex mutex;
    static QByteArray lastUnknown;
    const QTimeZone zone = QTimeZone::systemTimeZone();
    QMutexLocker lock(&mutex);
    if (zone.isValid()) {
        lastUnknown.clear();
        return zone;
    }
    const QByteArray id = QTimeZone::systemTimeZoneId();
    if (std::exchange(lastUnknown, id) != id)
        logError(lcApp, "Unknown system time zone \"%s\", using UTC", id);
    return QTimeZone::utc();
}

qint64 RealScheduler::monotonicMs() const
{
    return monotonicNow();
}

VirtualScheduler::VirtualScheduler(QDateTime start, QTimeZone zone)
    : m_now(start.toUTC()), m_zone(std::move(zone))
{
}

TimerHandle VirtualScheduler::add(qint64 dueMs, qint64 periodMs, QObject* context, std::function<void()> step)
{
    auto state = std::make_shared<detail::TimerState>();
    m_tasks.emplace(std::make_pair(dueMs, m_sequence++),
                    Task{state, context, std::move(step), periodMs, context != nullptr});
    return TimerHandle(state);
}

TimerHandle VirtualScheduler::after(milliseconds delay, QObject* context, std::function<void()> step)
{
    return add(m_elapsedMs + std::max<qint64>(delay.count(), 0), 0, context, std::move(step));
}

TimerHandle VirtualScheduler::every(milliseconds period, QObject* context, std::function<void()> step)
{
    const qint64 periodMs = std::max<qint64>(period.count(), 1);
    return add(m_elapsedMs + periodMs, periodMs, context, std::move(step));
}

void VirtualScheduler::advance(milliseconds delta)
{
    const qint64 target = m_elapsedMs + std::max<qint64>(delta.count(), 0);
    while (!m_tasks.empty() && m_tasks.begin()->first.first <= target) {
        auto node = m_tasks.extract(m_tasks.begin());
        Task task = std::move(node.mapped());
        const qint64 due = node.key().first;
        if (task.isDead())
            continue;
        m_now = m_now.addMSecs(due - m_elapsedMs);
        m_elapsedMs = due;
        if (task.periodMs > 0)
            m_tasks.emplace(std::make_pair(due + task.periodMs, m_sequence++), task);
        else
            task.state->cancelled = true;
        task.step();
    }
    m_now = m_now.addMSecs(target - m_elapsedMs);
    m_elapsedMs = target;
}

int VirtualScheduler::pendingCount() const
{
    int n = 0;
    for (const auto& [key, task] : m_tasks)
        n += task.isDead() ? 0 : 1;
    return n;
}

} // namespace pondra
