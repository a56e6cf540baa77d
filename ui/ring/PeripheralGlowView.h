#pragma once

#include "ui/ring/RingDisplay.h"

#include <QLinearGradient>
#include <QObject>
#include <QRect>
#include <QWidget>

#include <memory>

namespace pondra {

struct ScreenArea;

/**
 * The screen-edge glow: yellow that rises evenly from fully transparent at
 * the strip's inner (left) edge to half-opaque at its outer edge, the same
 * in every row, so whatever lies beneath stays visible through it.
 */
class PeripheralGlowView final : public QWidget
{
    Q_OBJECT
public:
    explicit PeripheralGlowView(QWidget* parent = nullptr);

    /// The gradient across a strip `width` pixels wide: the first column
    /// clear, the last at half opacity. The colour is the same yellow
    /// throughout (a start at transparent black would darken the middle).
    static QLinearGradient gradient(int width);

protected:
    void paintEvent(QPaintEvent* event) override;
};

/**
 * The window of the glow: a strip along the right edge of the primary screen,
 * above every window, on every workspace, that takes no clicks and never the
 * focus. Made hidden; each `show()` places it afresh, since the primary
 * screen may have changed. Without a compositing manager it is not shown at
 * all (it would be an opaque bar over the screen).
 */
class PeripheralGlowWindow final : public QObject
{
    Q_OBJECT
public:
    static constexpr int stripWidth = 30;

    explicit PeripheralGlowWindow(RingDisplayBackends backends = {}, QObject* parent = nullptr);
    ~PeripheralGlowWindow() override;

    /// The strip on a screen: its rightmost 30 pixels, top to bottom.
    static QRect stripRect(const ScreenArea& screen);

    /// Places the strip on the current primary screen and shows it above
    /// every window, without activating anything. Without a compositor (one
    /// info line) the strip is hidden, also one still up from an earlier
    /// ring; without a screen nothing changes.
    void show();
    void hide();
    /// Brings the shown strip above every window again.
    void raise();
    bool isVisible() const;

    QWidget* window() const { return m_view.get(); }

private:
    RingDisplayBackends m_backends;
    std::unique_ptr<PeripheralGlowView> m_view;
};

} // namespace pondra
