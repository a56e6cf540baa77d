#pragma once

#include <QObject>
#include <QPointer>

class QWidget;
class QWindow;

namespace pondra {

/**
 * Whether anyone can see a top-level window: not minimised, not on another
 * desktop (Qt's exposure) and, where no compositing manager runs, not wholly
 * covered by other windows (under one, a covered window is not told apart).
 * What moves in a window stops while it cannot be seen. One per window, made
 * on first use as the window's child.
 */
class WindowSight final : public QObject
{
    Q_OBJECT
public:
    static WindowSight* of(QWidget* window);
    /// `window` was raised, or its flags changed, which makes Qt write its
    /// event mask anew: it counts as seen until the window system says
    /// otherwise, and the reports that tell so are asked for again. Nothing
    /// to do for a window nobody watches.
    static void raised(QWidget* window);

    /// Seen until the window system says otherwise.
    bool isSeen() const { return m_exposed && !m_covered; }

Q_SIGNALS:
    void seenChanged(bool seen);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit WindowSight(QWidget* window);
    void watchAnew(bool exposed);
    void setState(bool exposed, bool covered);

    QWidget* m_window = nullptr;
    QPointer<QWindow> m_handle;
    bool m_exposed = true;
    bool m_covered = false;
};

} // namespace pondra
