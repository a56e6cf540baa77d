#include "ui/kit/FrameTicker.h"

#include <algorithm>

namespace pondra {

FrameTicker::FrameTicker(Scheduler& scheduler, QObject* parent) : QObject(parent), m_scheduler(scheduler) {}

FrameTicker::~FrameTicker()
{
    for (const Client& c : m_clients)
        disconnect(c.destroyed);
    m_timer.cancel();
}

void FrameTicker::attach(QObject* client, std::function<void()> onFrame)
{
    if (!client)
        return;
    auto it = std::find_if(m_clients.begin(), m_clients.end(),
                           [client](const Client& c) { return c.object == client; });
    if (it != m_clients.end()) {
        it->onFrame = std::move(onFrame);
        return;
    }
    Client c;
    c.object = client;
    c.onFrame = std::move(onFrame);
    c.destroyed = connect(client, &QObject::destroyed, this, [this, client] { detach(client); });
    m_clients.push_back(std::move(c));
    updateTimer();
}

void FrameTicker::detach(QObject* client)
{
    auto it = std::find_if(m_clients.begin(), m_clients.end(),
                           [client](const Client& c) { return c.object == client; });
    if (it == m_clients.end())
        return;
    disconnect(it->destroyed);
    m_clients.erase(it);
    updateTimer();
}

bool FrameTicker::isAttached(const QObject* client) const
{
    return std::any_of(m_clients.begin(), m_clients.end(),
                       [client](const Client& c) { return c.object == client; });
}

void FrameTicker::updateTimer()
{
    if (m_clients.empty()) {
        m_timer.cancel();
        m_timer = {};
    } else if (!m_timer.isActive()) {
        m_timer = m_scheduler.every(period, this, [this] { onTick(); });
    }
}

void FrameTicker::onTick()
{
    // A client may detach (or be destroyed) from inside its own frame.
    std::vector<QObject*> snapshot;
    snapshot.reserve(m_clients.size());
    for (const Client& c : m_clients)
        snapshot.push_back(c.object);
    for (QObject* object : snapshot) {
        auto it = std::find_if(m_clients.begin(), m_clients.end(),
                               [object](const Client& c) { return c.object == object; });
        if (it != m_clients.end()) {
            auto onFrame = it->onFrame;
            onFrame();
        }
    }
}

} // namespace pondra
