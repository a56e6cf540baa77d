#pragma once

#include "platform/core/Scheduler.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace pondra {

/**
 * The one clock of everything on screen that moves with time, on the
 * scheduler. Two kinds of client: frame clients run at every frame tick
 * (1/60 s), for motion that follows something (a pointer, a fade); stepping
 * clients are woken only at moments they name, for motion whose next visible
 * change is known in advance (a text that moves a whole pixel every 40 ms).
 * Stepping clients due together run in one wake, on one timer that repeats
 * at their rhythm. Their moments are wall-clock times, as their positions
 * are, but the waits for them run on the monotonic clock: a wall clock set
 * back or forward (a time server's correction, the user setting the time)
 * neither holds a step back nor brings it on, and the next step finds the
 * wall clock where it now stands. The widgets they hand to `repaint()` are
 * painted together as it ends: one repaint of each window, or, for widgets that
 * paint all of their rectangle themselves and show whole, one paint straight
 * into the window's backing store, with no paint events.
 * Nothing runs, and nothing wakes the program, while no client is attached.
 * Clients detach when hidden; a destroyed client is detached by itself.
 * Main thread only.
 */
class FrameTicker final : public QObject
{
    Q_OBJECT
public:
    static constexpr milliseconds period{16};

    explicit FrameTicker(Scheduler& scheduler, QObject* parent = nullptr);
    ~FrameTicker() override;

    /// `onFrame` runs at every tick until `detach(client)`; attaching again replaces it.
    void attach(QObject* client, std::function<void()> onFrame);
    /// `onStep` runs once `dueMs` (milliseconds since the epoch) has come, as
    /// the monotonic clock counts from now, and answers when it is due next,
    /// or nothing to leave; a moment that has passed counts as the next
    /// millisecond. Attaching again replaces the client's callback and moment.
    void attachAt(QObject* client, qint64 dueMs, std::function<std::optional<qint64>()> onStep);
    void detach(QObject* client);
    bool isAttached(const QObject* client) const;
    bool isRunning() const { return m_frameTimer.isActive() || m_stepTimer.isActive(); }
    int clientCount() const { return int(m_clients.size()); }
    Scheduler& scheduler() const { return m_scheduler; }
    /// The scheduler's wall clock in milliseconds since the epoch; during a
    /// step, the step's moment, the same for every client of it.
    qint64 nowMs() const;

    /// Paints all of a widget's rectangle into `image`, the widget's
    /// top-left corner at `at`, covering every pixel (nothing of what was
    /// there shows through); answers false where it cannot.
    using OpaquePainter = std::function<bool(QImage& image, QPoint at)>;

    /// During a step: paints `widget` with the others of the step as it
    /// ends. Elsewhere: schedules an ordinary update. With `paintOpaque`,
    /// the step may paint it straight into its window's backing store.
    void repaint(QWidget* widget, OpaquePainter paintOpaque = {});

private:
    /// A step timer firing this late is set anew, and a wall clock this far
    /// from where the monotonic one puts it counts as set anew.
    static constexpr qint64 stepSlackMs = 4;

    struct Moved
    {
        QWidget* window = nullptr;
        QPointer<QWidget> widget;
        OpaquePainter paintOpaque;
    };
    struct Client
    {
        QObject* object = nullptr;
        std::function<void()> onFrame;
        std::function<std::optional<qint64>()> onStep;
        /// On the monotonic clock.
        qint64 dueMono = 0;
        QMetaObject::Connection destroyed;
    };
    Client* find(const QObject* client);
    Client& add(QObject* client);
    void onTick();
    void onStepDue();
    void paintStepped();
    bool paintStraight(QWidget* window, std::span<const Moved> moved);
    void updateTimers();
    qint64 wallAhead();

    Scheduler& m_scheduler;
    std::vector<Client> m_clients;
    TimerHandle m_frameTimer;
    TimerHandle m_stepTimer;
    /// How far the wall clock is ahead of the monotonic one, as last taken:
    /// read anew at each use, it is taken again only when it moved by more
    /// than the slack, so that moments named together stay together.
    std::optional<qint64> m_wallAheadMs;
    /// When the step timer fires next on the monotonic clock (-1: not known), and its period.
    qint64 m_stepTimerDueMs = -1;
    qint64 m_stepPeriodMs = 0;
    bool m_stepping = false;
    qint64 m_stepNowMs = 0;
    /// What the running step moved; its room is kept from step to step.
    std::vector<Moved> m_moved;
};

} // namespace pondra
