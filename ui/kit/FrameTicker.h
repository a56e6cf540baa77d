#pragma once

#include "platform/core/Scheduler.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

namespace pondra {

/**
 * The one clock of everything on screen that moves with time, on the
 * scheduler. Two kinds of client: frame clients run at every frame tick
 * (1/60 s), for motion that follows something (a pointer, a fade); stepping
 * clients are woken only at moments they name, for motion whose next visible
 * change is known in advance (a text that moves a whole pixel every 40 ms).
 * Stepping clients due together run in one wake, and the widgets they hand
 * to `repaint()` are painted together as it ends: one repaint of each window.
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
    /// `onStep` runs once the scheduler's clock reaches `dueMs` (milliseconds
    /// since the epoch) and answers when it is due next, or nothing to leave;
    /// a moment that has passed counts as the next millisecond. Attaching
    /// again replaces the client's callback and moment.
    void attachAt(QObject* client, qint64 dueMs, std::function<std::optional<qint64>()> onStep);
    void detach(QObject* client);
    bool isAttached(const QObject* client) const;
    bool isRunning() const { return m_frameTimer.isActive() || m_stepTimer.isActive(); }
    int clientCount() const { return int(m_clients.size()); }
    Scheduler& scheduler() const { return m_scheduler; }
    /// The scheduler's clock in milliseconds since the epoch.
    qint64 nowMs() const;

    /// During a step: paints `widget` with the others of the step as it
    /// ends. Elsewhere: schedules an ordinary update.
    void repaint(QWidget* widget);

private:
    struct Client
    {
        QObject* object = nullptr;
        std::function<void()> onFrame;
        std::function<std::optional<qint64>()> onStep;
        qint64 dueMs = 0;
        QMetaObject::Connection destroyed;
    };
    Client* find(const QObject* client);
    Client& add(QObject* client);
    void onTick();
    void onStepDue();
    void paintStepped();
    void updateTimers();

    Scheduler& m_scheduler;
    std::vector<Client> m_clients;
    TimerHandle m_frameTimer;
    TimerHandle m_stepTimer;
    qint64 m_stepTimerDueMs = 0;
    bool m_stepping = false;
    /// The windows whose widgets the running step moved.
    std::vector<QPointer<QWidget>> m_moved;
};

} // namespace pondra
