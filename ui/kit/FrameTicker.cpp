#include "ui/kit/FrameTicker.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>

namespace pondra {

FrameTicker::FrameTicker(Scheduler& scheduler, QObject* parent) : QObject(parent), m_scheduler(scheduler) {}

FrameTicker::~FrameTicker()
{
    for (const Client& c : m_clients)
        disconnect(c.destroyed);
    m_frameTimer.cancel();
    m_stepTimer.cancel();
}

qint64 FrameTicker::nowMs() const
{
    return m_scheduler.now().toMSecsSinceEpoch();
}

FrameTicker::Client* FrameTicker::find(const QObject* client)
{
    auto it = std::find_if(m_clients.begin(), m_clients.end(),
                           [client](const Client& c) { return c.object == client; });
    return it == m_clients.end() ? nullptr : &*it;
}

FrameTicker::Client& FrameTicker::add(QObject* client)
{
    if (Client* existing = find(client))
        return *existing;
    Client c;
    c.object = client;
    c.destroyed = connect(client, &QObject::destroyed, this, [this, client] { detach(client); });
    m_clients.push_back(std::move(c));
    return m_clients.back();
}

void FrameTicker::attach(QObject* client, std::function<void()> onFrame)
{
    if (!client)
        return;
    Client& c = add(client);
    c.onFrame = std::move(onFrame);
    c.onStep = {};
    updateTimers();
}

void FrameTicker::attachAt(QObject* client, qint64 dueMs, std::function<std::optional<qint64>()> onStep)
{
    if (!client)
        return;
    Client& c = add(client);
    c.onFrame = {};
    c.onStep = std::move(onStep);
    c.dueMs = dueMs;
    updateTimers();
}

void FrameTicker::detach(QObject* client)
{
    auto it = std::find_if(m_clients.begin(), m_clients.end(),
                           [client](const Client& c) { return c.object == client; });
    if (it == m_clients.end())
        return;
    disconnect(it->destroyed);
    m_clients.erase(it);
    updateTimers();
}

bool FrameTicker::isAttached(const QObject* client) const
{
    return std::any_of(m_clients.begin(), m_clients.end(),
                       [client](const Client& c) { return c.object == client; });
}

void FrameTicker::updateTimers()
{
    const bool frames =
        std::any_of(m_clients.begin(), m_clients.end(), [](const Client& c) { return bool(c.onFrame); });
    if (!frames) {
        m_frameTimer.cancel();
        m_frameTimer = {};
    } else if (!m_frameTimer.isActive()) {
        m_frameTimer = m_scheduler.every(period, this, [this] { onTick(); });
    }

    // One timer for the earliest stepping client; while a step runs, the
    // timer is set once it ends.
    if (m_stepping)
        return;
    std::optional<qint64> due;
    for (const Client& c : m_clients)
        if (c.onStep)
            due = std::min(due.value_or(c.dueMs), c.dueMs);
    if (!due) {
        m_stepTimer.cancel();
        m_stepTimer = {};
        return;
    }
    if (m_stepTimer.isActive() && m_stepTimerDueMs == *due)
        return;
    m_stepTimer.cancel();
    m_stepTimerDueMs = *due;
    const qint64 delay = std::max<qint64>(0, *due - nowMs());
    m_stepTimer = m_scheduler.after(milliseconds(delay), this, [this] { onStepDue(); });
}

void FrameTicker::onTick()
{
    // A client may detach (or be destroyed) from inside its own frame.
    std::vector<QObject*> snapshot;
    snapshot.reserve(m_clients.size());
    for (const Client& c : m_clients)
        if (c.onFrame)
            snapshot.push_back(c.object);
    for (QObject* object : snapshot) {
        if (Client* c = find(object); c && c->onFrame) {
            auto onFrame = c->onFrame;
            onFrame();
        }
    }
}

void FrameTicker::onStepDue()
{
    m_stepTimer = {};
    m_stepping = true;
    const qint64 now = nowMs();
    std::vector<QObject*> due;
    for (const Client& c : m_clients)
        if (c.onStep && c.dueMs <= now)
            due.push_back(c.object);
    for (QObject* object : due) {
        Client* c = find(object);
        if (!c || !c->onStep)
            continue;
        auto onStep = c->onStep;
        const std::optional<qint64> next = onStep();
        // The client may have left, or attached again, from inside its step.
        c = find(object);
        if (!c || !c->onStep || c->dueMs > now)
            continue;
        if (next)
            c->dueMs = std::max(*next, now + 1);
        else
            detach(object);
    }
    m_stepping = false;
    paintStepped();
    updateTimers();
}

void FrameTicker::repaint(QWidget* widget)
{
    if (!widget)
        return;
    widget->update();
    if (!m_stepping)
        return;
    QWidget* window = widget->window();
    if (std::find(m_moved.begin(), m_moved.end(), window) == m_moved.end())
        m_moved.emplace_back(window);
}

void FrameTicker::paintStepped()
{
    // What moved is painted and flushed now, all of a window at once, rather
    // than at Qt's next update pass.
    const auto moved = std::exchange(m_moved, {});
    for (const QPointer<QWidget>& window : moved) {
        if (window && window->isVisible()) {
            QEvent request(QEvent::UpdateRequest);
            QCoreApplication::sendEvent(window, &request);
        }
    }
}

} // namespace pondra
