#pragma once

#include "platform/core/Scheduler.h"

#include <QObject>

#include <functional>
#include <vector>

namespace pondra {

/**
 * One frame tick (1/60 s) on the scheduler, shared by everything on screen
 * that moves with time: it runs only while a client is attached, so nothing
 * wakes the program while nothing moves. Clients detach when hidden; a
 * destroyed client is detached by itself. Main thread only.
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
    void detach(QObject* client);
    bool isAttached(const QObject* client) const;
    bool isRunning() const { return m_timer.isActive(); }
    int clientCount() const { return int(m_clients.size()); }
    Scheduler& scheduler() const { return m_scheduler; }

private:
    struct Client
    {
        QObject* object = nullptr;
        std::function<void()> onFrame;
        QMetaObject::Connection destroyed;
    };
    void onTick();
    void updateTimer();

    Scheduler& m_scheduler;
    std::vector<Client> m_clients;
    TimerHandle m_timer;
};

} // namespace pondra
