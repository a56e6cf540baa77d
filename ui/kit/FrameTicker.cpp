#include "ui/kit/FrameTicker.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QEvent>
#include <QGraphicsEffect>
#include <QWindow>

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
    return m_stepping ? m_stepNowMs : m_scheduler.now().toMSecsSinceEpoch();
}

qint64 FrameTicker::wallAhead()
{
    // The two clocks, read one after the other, can straddle a millisecond,
    // and a time server slews the wall clock gently: a difference within the
    // slack is the one taken before, so that moments named apart stay in
    // step. One beyond it is a wall clock set anew.
    const qint64 ahead = m_scheduler.now().toMSecsSinceEpoch() - m_scheduler.monotonicMs();
    if (!m_wallAheadMs || qAbs(ahead - *m_wallAheadMs) > stepSlackMs)
        m_wallAheadMs = ahead;
    return *m_wallAheadMs;
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
    c.dueMono = dueMs - (m_stepping ? *m_wallAheadMs : wallAhead());
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
            due = std::min(due.value_or(c.dueMono), c.dueMono);
    if (!due) {
        m_stepTimer.cancel();
        m_stepTimer = {};
        return;
    }
    // A text moving at a steady speed is due at a steady rhythm (every 40 ms
    // at 25 px/s): the timer repeats at that rhythm and is set anew only when
    // the next moment falls elsewhere, not at every step.
    if (m_stepTimer.isActive() && m_stepTimerDueMs == *due)
        return;
    m_stepTimer.cancel();
    const qint64 now = m_scheduler.monotonicMs();
    m_stepPeriodMs = std::max<qint64>(1, *due - now);
    m_stepTimerDueMs = now + m_stepPeriodMs;
    m_stepTimer = m_scheduler.every(milliseconds(m_stepPeriodMs), this, [this] { onStepDue(); });
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
    const qint64 now = m_scheduler.monotonicMs();
    // The timer fires again a period on, from when it was due. One that
    // fires late (the program was busy) is set anew, so the steps stay on
    // their moments.
    const bool onTime = now - m_stepTimerDueMs < stepSlackMs;
    m_stepTimerDueMs = onTime ? m_stepTimerDueMs + m_stepPeriodMs : -1;
    // The step's moment on the wall clock, where it stands now: after the
    // clock was set back or forward, the clients move to their new places.
    const qint64 ahead = wallAhead();
    m_stepping = true;
    m_stepNowMs = now + ahead;
    std::vector<QObject*> due;
    for (const Client& c : m_clients)
        if (c.onStep && c.dueMono <= now)
            due.push_back(c.object);
    for (QObject* object : due) {
        Client* c = find(object);
        if (!c || !c->onStep)
            continue;
        auto onStep = c->onStep;
        const std::optional<qint64> next = onStep();
        // The client may have left, or attached again, from inside its step.
        c = find(object);
        if (!c || !c->onStep || c->dueMono > now)
            continue;
        if (next)
            c->dueMono = std::max(*next - ahead, now + 1);
        else
            detach(object);
    }
    m_stepping = false;
    paintStepped();
    updateTimers();
}

void FrameTicker::repaint(QWidget* widget, OpaquePainter paintOpaque)
{
    if (!widget)
        return;
    if (!m_stepping) {
        widget->update();
        return;
    }
    m_moved.push_back({widget->window(), widget, std::move(paintOpaque)});
}

void FrameTicker::paintStepped()
{
    // What moved is painted and flushed now, all of a window at once, rather
    // than at Qt's next update pass.
    std::vector<Moved> moved;
    moved.swap(m_moved);
    for (auto first = moved.begin(); first != moved.end();) {
        QWidget* const window = first->window;
        const auto end =
            std::partition(first, moved.end(), [window](const Moved& m) { return m.window == window; });
        const std::span<const Moved> widgets(first, end);
        first = end;
        // The window lives while any of its widgets does.
        if (std::none_of(widgets.begin(), widgets.end(), [](const Moved& m) { return bool(m.widget); }) ||
            !window->isVisible() || paintStraight(window, widgets))
            continue;
        for (const Moved& m : widgets)
            if (m.widget)
                m.widget->update();
        QEvent request(QEvent::UpdateRequest);
        QCoreApplication::sendEvent(window, &request);
        // The update Qt posted for them would find nothing left to paint.
        QCoreApplication::removePostedEvents(window, QEvent::UpdateRequest);
    }
    moved.clear();
    if (m_moved.empty())
        m_moved.swap(moved);
}

namespace {
bool covers(const QRegion& region, const QRect& area)
{
    // Most shapes hold the area in one of their rectangles.
    return std::any_of(region.begin(), region.end(), [&area](const QRect& r) { return r.contains(area); }) ||
           QRegion(area).subtracted(region).isEmpty();
}

/// Whether all of `widget` shows in its window's own surface: inside every
/// ancestor and its mask, under no sibling (of it or of an ancestor) stacked
/// above, with no effect and no native window of its own on the way.
bool showsWhole(const QWidget* widget)
{
    if (!widget->isVisible() || !widget->updatesEnabled())
        return false;
    QRect area = widget->rect(); // in the coordinates of `w` below
    for (const QWidget* w = widget;; w = w->parentWidget()) {
        if (w->graphicsEffect() || (!w->mask().isEmpty() && !covers(w->mask(), area)))
            return false;
        if (w->isWindow())
            return true;
        if (w->testAttribute(Qt::WA_NativeWindow))
            return false;
        const QWidget* parent = w->parentWidget();
        area.translate(w->pos());
        if (!parent->rect().contains(area))
            return false;
        const QObjectList& siblings = parent->children();
        for (qsizetype i = siblings.indexOf(const_cast<QWidget*>(w)) + 1; i < siblings.size(); ++i) {
            if (!siblings[i]->isWidgetType())
                continue;
            const auto* above = static_cast<const QWidget*>(siblings[i]);
            if (!above->isWindow() && above->isVisible() && above->geometry().intersects(area))
                return false;
        }
    }
}
} // namespace

// Widgets that paint every pixel of their rectangle themselves need none of
// the widget tree's repaint: no update marks, no paint events, no region
// work. They are painted straight into the window's backing store, between
// its begin and end of painting, and that part flushed: as Qt would end up
// painting them, where they show whole and nothing lies over them.
bool FrameTicker::paintStraight(QWidget* window, std::span<const Moved> moved)
{
    QWindow* handle = window->windowHandle();
    QBackingStore* store = window->backingStore();
    if (!handle || !handle->isExposed() || handle->surfaceType() != QSurface::RasterSurface || !store)
        return false;
    QRegion region;
    std::vector<QPoint> places;
    places.reserve(moved.size());
    for (const Moved& m : moved) {
        if (!m.widget || !m.paintOpaque || !showsWhole(m.widget))
            return false;
        places.push_back(m.widget->mapTo(window, QPoint()));
        region += QRect(places.back(), m.widget->size());
    }
    store->beginPaint(region);
    QPaintDevice* device = store->paintDevice();
    auto* image = device && device->devType() == QInternal::Image ? static_cast<QImage*>(device) : nullptr;
    bool painted = image && image->devicePixelRatio() == 1;
    for (std::size_t i = 0; painted && i < moved.size(); ++i)
        painted = moved[i].paintOpaque(*image, places[i]);
    store->endPaint();
    if (!painted)
        return false; // some of it may be cleared or half painted: Qt paints it all anew
    store->flush(region, handle);
    return true;
}

} // namespace pondra
