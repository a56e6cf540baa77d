#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPoint>
#include <QRect>

#include <memory>

class QPainter;
class QWidget;

namespace pondra {

class CompositingQuery;

/// How a frameless window's panel looks.
struct SurfaceLook
{
    qreal radius = 10;
    QColor fill;
    /// A hairline around the panel; invalid for none.
    QColor border;
    /// The shadow drawn around the panel where a compositor runs.
    QColor shadow = QColor(0, 0, 0, 70);
    int shadowBlur = 6;
    QPoint shadowOffset{0, 2};

    bool operator==(const SurfaceLook&) const = default;
};

/**
 * The background of a frameless top-level window that draws its own rounded
 * panel (the team window, the cursor-ring bubble): where a compositing
 * manager runs, the window is translucent and the panel casts a drawn
 * shadow into the margin around it; where none runs, the panel is drawn
 * opaque and the window is cut to its rounded shape by a mask, since the
 * transparent parts would show black. The background is kept as a pixmap,
 * so repainting a small part of the window (a scrolling text) costs one copy.
 */
class WindowSurface final
{
public:
    WindowSurface(QWidget& window, std::shared_ptr<CompositingQuery> query, SurfaceLook look);
    WindowSurface(const WindowSurface&) = delete;
    WindowSurface& operator=(const WindowSurface&) = delete;

    /// Asks whether a compositor runs and sets the window up for it. Call
    /// before each show. A window first shown without a compositor stays
    /// opaque until it is made again (its visual has no alpha channel).
    void prepareShow();
    bool isTranslucent() const { return m_translucent; }

    /// The panel, in window coordinates; the rest of the window is margin.
    void setPanelRect(const QRect& rect);
    QRect panelRect() const { return m_panel; }
    void setLook(const SurfaceLook& look);
    const SurfaceLook& look() const { return m_look; }

    /// Paints the background inside `exposed` (a paint event's rectangle).
    void paint(QPainter& painter, const QRect& exposed);
    /// Changes whenever what `paint` paints changes.
    qint64 cacheKey();

private:
    void ensureCache();
    void rebuild();
    void updateMask();

    QWidget& m_window;
    std::shared_ptr<CompositingQuery> m_query;
    SurfaceLook m_look;
    QRect m_panel;
    bool m_translucent = false;
    bool m_alphaVisual = false;
    bool m_dirty = true;
    QPixmap m_cache;
};

/// Blurs the alpha channel of an ARGB32 premultiplied image in place (three
/// box passes, close to a Gaussian of that radius). For drawn shadows.
void blurAlpha(QImage& image, int radius);

} // namespace pondra
