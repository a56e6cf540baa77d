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

void WindowSight::raised(QWidget* window)
{
    if (!window)
        return;
    if (auto* sight = window->window()->findChild<WindowSight*>(QString(), Qt::FindDirectChildrenOnly))
        sight->watchAnew(sight->m_exposed);
}

WindowSight::WindowSight(QWidget* window) : QObject(window), m_window(window)
{
    m_window->installEventFilter(this);
    connect(&CoveredWindows::instance(), &CoveredWindows::coveredChanged, this,
            [this](QWindow* w, bool covered) {
                if (w == m_handle)
                    setState(m_exposed, covered);
            });
    watchAnew(m_exposed);
}

void WindowSight::watchAnew(bool exposed)
{
    if (QWindow* handle = m_window->windowHandle(); handle && handle != m_handle) {
        if (m_handle)
            m_handle->removeEventFilter(this);
        m_handle = handle;
        m_handle->installEventFilter(this);
    }
    // Each time: a show, a raise, a change of flags or a new native window
    // may have rewritten the window's event mask, and the window counts as
    // seen until the window system says otherwise.
    if (m_handle && m_handle->handle())
        CoveredWindows::instance().watch(m_handle);
    setState(exposed, false);
}

bool WindowSight::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window) {
        if (event->type() == QEvent::Show)
            watchAnew(true);
        else if (event->type() == QEvent::WinIdChange)
            watchAnew(m_exposed);
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
