#include "ui/kit/WindowSight.h"

#include "platform/compositing/CoveredWindows.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace pondra {

WindowSight* WindowSight::of(QWidget* window)
{
    if (!window)
        return nullptr;
    window = window->window();
    if (auto* sight = window->findChild<WindowSight*>(QString(), Qt::FindDirectChildrenOnly))
        return sight;
    return new WindowSight(window);
}

WindowSight::WindowSight(QWidget* window) : QObject(window), m_window(window)
{
    m_window->installEventFilter(this);
    connect(&CoveredWindows::instance(), &CoveredWindows::coveredChanged, this,
            [this](QWindow* w, bool covered) {
                if (w == m_handle)
                    setState(m_exposed, covered);
            });
    watchHandle();
}

void WindowSight::watchHandle()
{
    QWindow* handle = m_window->windowHandle();
    if (!handle || handle == m_handle)
        return;
    if (m_handle)
        m_handle->removeEventFilter(this);
    m_handle = handle;
    m_handle->installEventFilter(this);
    if (m_handle->handle())
        CoveredWindows::instance().watch(m_handle);
}

bool WindowSight::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window) {
        if (event->type() == QEvent::Show) {
            // Shown again: seen until the window system says otherwise.
            watchHandle();
            if (m_handle && m_handle->handle())
                CoveredWindows::instance().watch(m_handle);
            setState(true, CoveredWindows::instance().isCovered(m_handle));
        } else if (event->type() == QEvent::WinIdChange) {
            watchHandle();
        }
    } else if (watched == m_handle && event->type() == QEvent::Expose) {
        setState(m_handle->isExposed(), m_covered);
    }
    return false;
}

void WindowSight::setState(bool exposed, bool covered)
{
    const bool before = isSeen();
    m_exposed = exposed;
    m_covered = covered;
    if (isSeen() != before)
        Q_EMIT seenChanged(isSeen());
}

} // namespace pondra
