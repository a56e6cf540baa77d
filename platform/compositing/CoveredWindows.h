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
 * exposure. Under a compositing manager no window is ever covered (each is
 * drawn off screen); on other platforms nothing is reported. Main thread only.
 */
class CoveredWindows final : public QObject
{
    Q_OBJECT
public:
    static CoveredWindows& instance();
    ~CoveredWindows() override;

    /// Starts the reports for `window`'s native window; repeating it is harmless.
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
