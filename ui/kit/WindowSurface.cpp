#include "ui/kit/WindowSurface.h"

#include "platform/compositing/CompositingQuery.h"

#include <QBitmap>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <vector>

namespace pondra {

WindowSurface::WindowSurface(QWidget& window, std::shared_ptr<CompositingQuery> query, SurfaceLook look)
    : m_window(window), m_query(std::move(query)), m_look(std::move(look))
{
}

void WindowSurface::prepareShow()
{
    const bool compositing = m_query && m_query->isCompositing();
    if (!m_window.testAttribute(Qt::WA_WState_Created)) {
        // The visual is chosen when the native window is made.
        m_window.setAttribute(Qt::WA_TranslucentBackground, compositing);
        m_alphaVisual = compositing;
    }
    const bool translucent = compositing && m_alphaVisual;
    if (translucent != m_translucent || m_dirty) {
        m_translucent = translucent;
        m_dirty = true;
        updateMask();
        m_window.update();
    }
}

void WindowSurface::setPanelRect(const QRect& rect)
{
    if (rect == m_panel)
        return;
    m_panel = rect;
    m_dirty = true;
    updateMask();
}

void WindowSurface::setLook(const SurfaceLook& look)
{
    if (look == m_look)
        return;
    m_look = look;
    m_dirty = true;
    updateMask();
}

void WindowSurface::updateMask()
{
    if (m_translucent || m_panel.isEmpty()) {
        if (!m_window.mask().isEmpty())
            m_window.clearMask();
        return;
    }
    QBitmap mask(m_window.size());
    mask.fill(Qt::color0);
    {
        QPainter p(&mask);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::color1);
        p.drawRoundedRect(m_panel, m_look.radius, m_look.radius);
    }
    m_window.setMask(mask);
}

void WindowSurface::rebuild()
{
    m_dirty = false;
    const qreal dpr = m_window.devicePixelRatioF();
    const QSize size = m_window.size();
    QImage image(size * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath panel;
    panel.addRoundedRect(QRectF(m_panel), m_look.radius, m_look.radius);
    if (m_translucent) {
        if (m_look.shadow.alpha() > 0 && m_look.shadowBlur > 0) {
            QImage shadow(image.size(), QImage::Format_ARGB32_Premultiplied);
            shadow.setDevicePixelRatio(dpr);
            shadow.fill(Qt::transparent);
            {
                QPainter sp(&shadow);
                sp.setRenderHint(QPainter::Antialiasing);
                sp.fillPath(panel.translated(m_look.shadowOffset), m_look.shadow);
            }
            blurAlpha(shadow, int(m_look.shadowBlur * dpr));
            p.drawImage(QPoint(0, 0), shadow);
            // The panel is see-through: no shadow may show through it.
            p.setCompositionMode(QPainter::CompositionMode_Clear);
            p.fillPath(panel, Qt::black);
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        }
        p.fillPath(panel, m_look.fill);
    } else {
        QColor opaque = m_look.fill;
        opaque.setAlpha(255);
        p.fillPath(panel, opaque);
    }
    if (m_look.border.isValid() && m_look.border.alpha() > 0) {
        p.setPen(QPen(m_look.border, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(m_panel).adjusted(0.5, 0.5, -0.5, -0.5), m_look.radius, m_look.radius);
    }
    p.end();
    m_cache = QPixmap::fromImage(std::move(image));
}

void WindowSurface::ensureCache()
{
    if (m_dirty || m_cache.deviceIndependentSize().toSize() != m_window.size())
        rebuild();
}

qint64 WindowSurface::cacheKey()
{
    ensureCache();
    return m_cache.cacheKey();
}

void WindowSurface::paint(QPainter& painter, const QRect& exposed)
{
    ensureCache();
    const qreal dpr = m_cache.devicePixelRatio();
    const QRect source(QPointF(exposed.topLeft() * dpr).toPoint(), QSizeF(exposed.size() * dpr).toSize());
    // The backing store of a translucent window is already clear here.
    painter.drawPixmap(exposed, m_cache, source);
}

void blurAlpha(QImage& image, int radius)
{
    if (radius <= 0 || image.isNull())
        return;
    Q_ASSERT(image.format() == QImage::Format_ARGB32_Premultiplied);
    const int w = image.width();
    const int h = image.height();
    // A three-pass box blur of the shadow's colour channels and alpha together
    // (premultiplied, so one pass per channel keeps the colour right).
    const int box = std::max(1, radius / 2);
    std::vector<quint32> line(std::max(w, h));
    auto pass = [&](auto get, auto set, int count, int length) {
        for (int i = 0; i < count; ++i) {
            for (int j = 0; j < length; ++j)
                line[j] = get(i, j);
            int sum[4] = {0, 0, 0, 0};
            auto channel = [](quint32 v, int c) { return int((v >> (c * 8)) & 0xff); };
            for (int j = -box; j <= box; ++j) {
                const quint32 v = (j >= 0 && j < length) ? line[j] : 0;
                for (int c = 0; c < 4; ++c)
                    sum[c] += channel(v, c);
            }
            const int span = 2 * box + 1;
            for (int j = 0; j < length; ++j) {
                quint32 out = 0;
                for (int c = 0; c < 4; ++c)
                    out |= quint32(sum[c] / span) << (c * 8);
                set(i, j, out);
                const int add = j + box + 1;
                const int remove = j - box;
                const quint32 va = add < length ? line[add] : 0;
                const quint32 vr = remove >= 0 ? line[remove] : 0;
                for (int c = 0; c < 4; ++c)
                    sum[c] += channel(va, c) - channel(vr, c);
            }
        }
    };
    auto pixel = [&](int x, int y) -> quint32& { return reinterpret_cast<quint32*>(image.scanLine(y))[x]; };
    for (int round = 0; round < 3; ++round) {
        pass([&](int y, int x) { return pixel(x, y); }, [&](int y, int x, quint32 v) { pixel(x, y) = v; }, h,
             w);
        pass([&](int x, int y) { return pixel(x, y); }, [&](int x, int y, quint32 v) { pixel(x, y) = v; }, w,
             h);
    }
}

} // namespace pondra
