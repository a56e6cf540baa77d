#pragma once

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QTimeZone>

#include <chrono>
#include <functional>
#include <map>
#include <memory>

namespace pondra {

using std::chrono::milliseconds;

namespace detail {
struct TimerState
{
    bool cancelled = false;
    std::function<void()> onCancel;
};
} // namespace detail

/// Cancels a scheduled step or a repeating timer. Copies refer to the same
/// timer; dropping a handle does not cancel it (the context object does).
class TimerHandle final
{
public:
    TimerHandle() = default;
    explicit TimerHandle(std::shared_ptr<detail::TimerState> state) : m_state(std::move(state)) {}

    void cancel();
    bool isActive() const { return m_state && !m_state->cancelled; }

private:
    std::shared_ptr<detail::TimerState> m_state;
};

/// Wall-clock time and the local time zone.
class Clock
{
public:
    virtual ~Clock() = default;
    /// The current moment, in UTC.
    virtual QDateTime now() const = 0;
    virtual QTimeZone timeZone() const = 0;
    /// Milliseconds on a monotonic clock, for measuring intervals.
    virtual qint64 monotonicMs() const = 0;
};

/**
 * Every delay and repeating timer of the program goes through a scheduler, so
 * tests can run them on virtual time. Steps run on the main thread; a step
 * whose context object has been destroyed, or that was cancelled before it
 * was due, never runs.
 */
class Scheduler : public Clock
{
public:
    virtual TimerHandle after(milliseconds delay, QObject* context, std::function<void()> step) = 0;
    virtual TimerHandle every(milliseconds period, QObject* context, std::function<void()> step) = 0;
    /// Runs the step on the next turn of the main loop.
    TimerHandle post(QObject* context, std::function<void()> step) { return after(milliseconds(0), context, std::move(step)); }
};

/// QTimer-backed scheduler on the real clock and the system time zone.
class RealScheduler final : public Scheduler
{
public:
    static RealScheduler& instance();

    TimerHandle after(milliseconds delay, QObject* context, std::function<void()> step) override;
    TimerHandle every(milliseconds period, QObject* context, std::function<void()> step) override;
    QDateTime now() const override;
    QTimeZone timeZone() const override;
    qint64 monotonicMs() const override;
};

/// Virtual time for tests: nothing runs until the test advances the clock.
class VirtualScheduler final : public Scheduler
{
public:
    explicit VirtualScheduler(QDateTime start = QDateTime(QDate(2026, 1, 5), QTime(12, 0), Qt::UTC),
                              QTimeZone zone = QTimeZone::utc());

    TimerHandle after(milliseconds delay, QObject* context, std::function<void()> step) override;
    TimerHandle every(milliseconds period, QObject* context, std::function<void()> step) override;
    QDateTime now() const override { return m_now; }
    QTimeZone timeZone() const override { return m_zone; }
    qint64 monotonicMs() const override { return m_elapsedMs; }

    /// Moves time forward by `delta`, running every step that falls due, in
    /// order of due time (steps due at the same moment in the order they were
    /// scheduled), including steps scheduled while advancing.
    void advance(milliseconds delta);
    /// Runs the steps that are due now (the "next turn" posts among them).
    void runPending() { advance(milliseconds(0)); }
    void setNow(const QDateTime& now) { m_now = now.toUTC(); }
    void setTimeZone(const QTimeZone& zone) { m_zone = zone; }
    /// Number of scheduled steps that are still to run.
    int pendingCount() const;

private:
    struct Task
    {
        std::shared_ptr<detail::TimerState> state;
        QPointer<QObject> context;
        std::function<void()> step;
        qint64 periodMs = 0;
        bool hasContext = false;

        bool isDead() const { return state->cancelled || (hasContext && !context); }
    };
    TimerHandle add(qint64 dueMs, qint64 periodMs, QObject* context, std::function<void()> step);

    QDateTime m_now;
    QTimeZone m_zone;
    qint64 m_elapsedMs = 0;
    quint64 m_sequence = 0;
    std::map<std::pair<qint64, quint64>, Task> m_tasks;
};

} // namespace pondra
