#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QWindow>

#include <memory>

namespace pondra {

/**
 * Which of the program's windows are wholly covered by other windows, so
 * that what moves in them can stop. X11 tells a window so (VisibilityNotify)
 * only when it asks, and Qt neither asks nor counts it as a loss of
 * exposure. This holds only where no compositing manager runs: under one,
 * the X server reports every window as unobscured, since each is drawn off
 * screen, so there a covered window is not told apart and what moves in it
 * goes on. On other platforms nothing is reported. Main thread only.
 */
class CoveredWindows final : public QObject
{
    Q_OBJECT
public:
    static CoveredWindows& instance();
    ~CoveredWindows() override;

    /// Asks for the reports for `window`'s native window, and counts it as
    /// not covered until the X server says otherwise. Call it again whenever
    /// the window is shown or raised, or Qt may have written its event mask
    /// anew (a change of its flags, a new native window).
    void watch(QWindow* window);
    bool isCovered(const QWindow* window) const;

Q_SIGNALS:
    void coveredChanged(QWindow* window, bool covered);

private:
    class Filter;
    CoveredWindows();
    void onVisibility(quint32 nativeWindow, bool covered);

    struct Watched
    {
        QPointer<QWindow> window;
        bool covered = false;
    };
    QHash<quint32, Watched> m_watched;
    std::unique_ptr<Filter> m_filter;
};

} // namespace pondra
