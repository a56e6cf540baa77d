#pragma once

#include "platform/core/Published.h"
#include "platform/core/Scheduler.h"
#include "records/Rings.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace pondra {

/// The screen-edge strip that shows while someone is ringing, as the ring
/// observer drives it.
class RingGlow
{
public:
    virtual ~RingGlow() = default;
    virtual void showGlow() = 0;
    virtual void hideGlow() = 0;
    /// Puts the strip above every other window again.
    virtual void raiseGlow() = 0;
};

/// The bubble beside the pointer that names the ringer.
class RingBubble
{
public:
    virtual ~RingBubble() = default;
    virtual void show(const QString& from, const std::optional<QImage>& photo) = 0;
    virtual void hide() = 0;
};

/// A glow made of any window with show(), hide() and raise() (a QWidget).
template <typename Window> class WindowGlow final : public RingGlow
{
public:
    explicit WindowGlow(std::unique_ptr<Window> window) : m_window(std::move(window)) {}
    void showGlow() override { m_window->show(); }
    void hideGlow() override { m_window->hide(); }
    void raiseGlow() override { m_window->raise(); }
    Window& window() { return *m_window; }

private:
    std::unique_ptr<Window> m_window;
};

/// A bubble made of any overlay with show(from, photo) and hide().
template <typename Overlay> class OverlayBubble final : public RingBubble
{
public:
    explicit OverlayBubble(std::unique_ptr<Overlay> overlay) : m_overlay(std::move(overlay)) {}
    void show(const QString& from, const std::optional<QImage>& photo) override
    {
        m_overlay->show(from, photo);
    }
    void hide() override { m_overlay->hide(); }
    Overlay& overlay() { return *m_overlay; }

private:
    std::unique_ptr<Overlay> m_overlay;
};

/**
 * Shows the glow and the bubble while someone is ringing. It takes every
 * value of the incoming ring, the current one first, and handles each on the
 * next turn of the main loop, repeats included: a ring shows the glow, then
 * the bubble, then raises the glow again so that it stays above the bubble;
 * no ring hides the glow, then the bubble. A missing window is skipped.
 * The windows must outlive the observer.
 */
class IncomingRingObserver final : public QObject
{
    Q_OBJECT
public:
    IncomingRingObserver(const ReadOnly<std::optional<IncomingRing>>& incomingRing, Scheduler& scheduler,
                         RingGlow* glow, RingBubble* bubble, QObject* parent = nullptr);

private:
    void onIncomingRing(const std::optional<IncomingRing>& ring);

    RingGlow* m_glow = nullptr;
    RingBubble* m_bubble = nullptr;
    Subscription m_subscription;
};

} // namespace pondra
