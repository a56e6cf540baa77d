#include "ui/ring/PeripheralGlowView.h"

#include "platform/compositing/CompositingQuery.h"
#include "platform/core/Log.h"
#include "platform/pointer/PointerAndScreens.h"
#include "ui/kit/Palette.h"
#include "ui/kit/WindowFinder.h"
#include "ui/ring/RingDisplay.h"

#include <QPainter>

namespace pondra {

PeripheralGlowView::PeripheralGlowView(QWidget* parent) : QWidget(parent) {}

QLinearGradient PeripheralGlowView::gradient(int width)
{
    // From the first pixel column's centre to the last one's, so the inner
    // column is wholly clear and the outer one exactly half opaque.
    QLinearGradient gradient(QPointF(0.5, 0), QPointF(std::max(width, 1) - 0.5, 0));
    const QColor yellow = palette::yellow();
    gradient.setColorAt(0, palette::withOpacity(yellow, 0));
    gradient.setColorAt(1, palette::withOpacity(yellow, 0.5));
    return gradient;
}

void PeripheralGlowView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(rect(), gradient(width()));
}

PeripheralGlowWindow::PeripheralGlowWindow(RingDisplayBackends backends, QObject* parent)
    : QObject(parent), m_backends(backends.completed()), m_view(std::make_unique<PeripheralGlowView>())
{
    ringDisplay::setUpOverlayWindow(*m_view, WindowIdentifiers::glowWindow);
    // Shown only where a compositor runs, so it always wants a visual with alpha.
    m_view->setAttribute(Qt::WA_TranslucentBackground);
}

PeripheralGlowWindow::~PeripheralGlowWindow() = default;

QRect PeripheralGlowWindow::stripRect(const ScreenArea& screen)
{
    const QRect& frame = screen.frame;
    return QRect(frame.x() + frame.width() - stripWidth, frame.y(), stripWidth, frame.height());
}

void PeripheralGlowWindow::show()
{
    if (!m_backends.compositing->isCompositing()) {
        logInfo(lcApp, "No compositing manager: the screen-edge glow is not shown");
        // The compositor may have gone while an earlier ring's strip was up:
        // without it the strip would stay as an opaque bar.
        m_view->hide();
        return;
    }
    const std::optional<ScreenArea> screen = m_backends.pointer->primaryScreen();
    if (!screen)
        return;
    m_view->setGeometry(stripRect(*screen));
    m_view->show();
    m_view->raise();
}

void PeripheralGlowWindow::hide()
{
    m_view->hide();
}

void PeripheralGlowWindow::raise()
{
    if (m_view->isVisible())
        m_view->raise();
}

bool PeripheralGlowWindow::isVisible() const
{
    return m_view->isVisible();
}

} // namespace pondra
