#include "ui/ring/CursorRingWindow.h"

#include "platform/compositing/CompositingQuery.h"
#include "ui/kit/FrameTicker.h"
#include "ui/kit/Palette.h"
#include "ui/kit/WindowFinder.h"
#include "ui/kit/WindowSurface.h"
#include "ui/ring/CursorRingView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

#include <algorithm>

namespace pondra {

namespace cursorRing {

QPoint placement(const QPoint& pointer, const QList<ScreenArea>& screens,
                 const std::optional<ScreenArea>& primary)
{
    const int width = windowSize.width();
    const int height = windowSize.height();
    int x = pointer.x() + pointerGap;
    int y = pointer.y() - height / 2;

    const ScreenArea* screen = nullptr;
    for (const ScreenArea& candidate : screens) {
        if (candidate.frame.contains(pointer)) {
            screen = &candidate;
            break;
        }
    }
    if (!screen && primary)
        screen = &*primary;
    if (!screen)
        return QPoint(x, y);

    const QRect& visible = screen->visibleFrame;
    const int right = visible.x() + visible.width();
    const int bottom = visible.y() + visible.height();
    if (right < pointer.x() + pointerGap + width)
        x = pointer.x() - width - pointerGap;
    x = std::max(visible.x(), std::min(x, right - width));
    y = std::min(std::max(y, visible.y()), bottom - height);
    return QPoint(x, y);
}

} // namespace cursorRing

namespace {
SurfaceLook bubbleLook()
{
    SurfaceLook look;
    look.radius = 12;
    look.fill = palette::withOpacity(Qt::black, 0.8);
    look.border = palette::withOpacity(palette::white(), 0.15);
    look.shadow = palette::withOpacity(Qt::black, 0.35);
    look.shadowBlur = 8;
    look.shadowOffset = QPoint(0, 3);
    return look;
}
} // namespace

/// The overlay's top-level window: the panel behind the current bubble view.
class CursorRingWindow::Window final : public QWidget
{
public:
    explicit Window(std::shared_ptr<CompositingQuery> compositing)
        : m_surface(*this, std::move(compositing), bubbleLook())
    {
        ringDisplay::setUpOverlayWindow(*this, WindowIdentifiers::cursorRing);
        setFixedSize(cursorRing::windowSize);
        setWindowOpacity(0);
    }

    WindowSurface& surface() { return m_surface; }
    CursorRingView* view() const { return m_view.get(); }

    /// A fresh view for every caller; the previous one goes.
    void setView(std::unique_ptr<CursorRingView> view)
    {
        m_view = std::move(view);
        m_view->setGeometry(rect());
        m_view->show();
        m_surface.setPanelRect(m_view->layout().bubble);
        update();
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter p(this);
        m_surface.paint(p, event->rect());
    }

private:
    WindowSurface m_surface;
    std::unique_ptr<CursorRingView> m_view;
};

CursorRingWindow::CursorRingWindow(Scheduler& scheduler, RingDisplayBackends backends, QObject* parent)
    : QObject(parent), m_scheduler(scheduler), m_ticker(std::make_unique<FrameTicker>(scheduler)),
      m_backends(backends.completed()), m_window(std::make_unique<Window>(m_backends.compositing))
{
}

CursorRingWindow::~CursorRingWindow() = default;

QWidget* CursorRingWindow::window() const
{
    return m_window.get();
}

CursorRingView* CursorRingWindow::view() const
{
    return m_window->view();
}

void CursorRingWindow::show(const QString& name, const std::optional<QImage>& photo)
{
    ++m_generation;
    m_shown = true;
    m_window->setView(std::make_unique<CursorRingView>(name, photo, m_window.get()));
    updatePosition();
    m_window->surface().prepareShow();
    m_window->show();
    m_window->raise();
    fadeTo(1.0);
    m_following = true;
    m_autoHide.cancel();
    m_autoHide = m_scheduler.after(cursorRing::visibleDuration, this, [this] { hide(); });
    updateTicker();
}

void CursorRingWindow::hide()
{
    if (!m_shown)
        return;
    m_shown = false;
    m_autoHide.cancel();
    m_following = false;
    fadeTo(0.0);
    updateTicker();
}

void CursorRingWindow::updatePosition()
{
    const PointerAndScreens& pointer = *m_backends.pointer;
    const QPoint origin =
        cursorRing::placement(pointer.pointerPosition(), pointer.screens(), pointer.primaryScreen());
    if (m_window->pos() != origin)
        m_window->move(origin);
}

void CursorRingWindow::fadeTo(qreal opacity)
{
    m_fade = Fade{m_window->windowOpacity(), opacity, m_scheduler.monotonicMs(), m_generation, true};
}

void CursorRingWindow::onFrame()
{
    if (m_following)
        updatePosition();
    if (m_fade.running)
        stepFade();
    updateTicker();
}

void CursorRingWindow::stepFade()
{
    const qreal elapsed = qreal(m_scheduler.monotonicMs() - m_fade.startMs);
    const qreal progress = std::clamp(elapsed / qreal(cursorRing::fadeDuration.count()), 0.0, 1.0);
    m_window->setWindowOpacity(m_fade.from + (m_fade.to - m_fade.from) * progress);
    if (progress < 1.0)
        return;
    m_fade.running = false;
    // A show that came during the fade-out owns the window now.
    if (m_fade.to == 0.0 && m_fade.generation == m_generation && !m_shown)
        m_window->hide();
}

void CursorRingWindow::updateTicker()
{
    const bool needed = m_following || m_fade.running;
    if (needed && !m_ticker->isAttached(this))
        m_ticker->attach(this, [this] { onFrame(); });
    else if (!needed && m_ticker->isAttached(this))
        m_ticker->detach(this);
}

} // namespace pondra
