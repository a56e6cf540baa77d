#pragma once

#include "platform/core/Scheduler.h"
#include "platform/pointer/PointerAndScreens.h"
#include "ui/ring/RingDisplay.h"

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>

class QWidget;

namespace pondra {

class CursorRingView;
class FrameTicker;

namespace cursorRing {

/// The overlay window's size; the bubble is centred in it.
inline constexpr QSize windowSize{240, 68};
/// Between the pointer and the near edge of the window.
inline constexpr int pointerGap = 18;
/// How long a shown bubble stays before it hides itself.
inline constexpr milliseconds visibleDuration{5000};
inline constexpr milliseconds fadeDuration{150};

/**
 * The window's top-left corner for the pointer at `pointer` (global, y down):
 * 18 pixels right of the pointer with its vertical centre on it, on the
 * screen whose frame holds the pointer (right and bottom edges excluded),
 * else on the primary screen. There it flips to the pointer's left when it
 * would pass the visible frame's right edge, and is then kept inside the
 * visible frame; where the frame is narrower or lower than the window, its
 * left and bottom edges win. With no screen at all it is not clamped.
 */
QPoint placement(const QPoint& pointer, const QList<ScreenArea>& screens,
                 const std::optional<ScreenArea>& primary);

} // namespace cursorRing

/**
 * The bubble that follows the pointer while someone rings. One is made at
 * launch and kept; its window is made hidden and reused. `show` puts a new
 * bubble for the caller beside the pointer, fades it in, follows the pointer
 * 60 times a second and hides it again after 5 s; `hide` stops following and
 * fades it out. A `show` during that fade-out wins: the bubble stays. Every
 * fade, tick and delay runs on the scheduler.
 */
class CursorRingWindow final : public QObject
{
    Q_OBJECT
public:
    /// Its fades, follow loop and countdown run on `scheduler`, which must outlive it.
    explicit CursorRingWindow(Scheduler& scheduler, RingDisplayBackends backends = {},
                              QObject* parent = nullptr);
    ~CursorRingWindow() override;

    /// Shows a new bubble for the caller, restarts following and the 5 s countdown.
    void show(const QString& name, const std::optional<QImage>& photo);
    /// Stops following and the countdown and fades the bubble out. Nothing when hidden.
    void hide();

    /// Between a `show` and the next `hide` (also the automatic one).
    bool isShown() const { return m_shown; }
    /// The overlay window; the tests look at it.
    QWidget* window() const;
    /// The current bubble, none before the first `show`.
    CursorRingView* view() const;

private:
    struct Fade
    {
        qreal from = 0;
        qreal to = 0;
        qint64 startMs = 0;
        /// The `show` it belongs to: a fade-out ends the window only if no newer show came.
        quint64 generation = 0;
        bool running = false;
    };
    class Window;

    void updatePosition();
    void fadeTo(qreal opacity);
    void onFrame();
    void stepFade();
    void updateTicker();

    Scheduler& m_scheduler;
    std::unique_ptr<FrameTicker> m_ticker;
    RingDisplayBackends m_backends;
    std::unique_ptr<Window> m_window;
    TimerHandle m_autoHide;
    Fade m_fade;
    quint64 m_generation = 0;
    bool m_shown = false;
    bool m_following = false;
};

} // namespace pondra
