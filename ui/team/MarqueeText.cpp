#include "ui/team/MarqueeText.h"

#include "ui/kit/FrameTicker.h"
#include "ui/kit/PlainText.h"
#include "ui/kit/WindowSight.h"

#include <QBackingStore>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStaticText>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace pondra {

namespace {
qint64 referenceMs()
{
    static const qint64 reference = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    return reference;
}

double secondsSinceReference(qint64 msSinceEpoch)
{
    return double(msSinceEpoch - referenceMs()) / 1000.0;
}
} // namespace

MarqueeText::MarqueeText(FrameTicker& ticker, QWidget* parent) : QWidget(parent), m_ticker(ticker) {}

MarqueeText::~MarqueeText()
{
    m_ticker.detach(this);
}

bool MarqueeText::scrolls(const QString& text)
{
    return plainText::clusterCount(text, scrollingClusters) >= scrollingClusters;
}

double MarqueeText::referenceSeconds(const QDateTime& moment)
{
    return secondsSinceReference(moment.toMSecsSinceEpoch());
}

double MarqueeText::offset(double seconds, double width, double textWidth)
{
    const double total = width + textWidth;
    const double cycle = std::max(total / speed, 0.1);
    const double phase = std::fmod(seconds, cycle);
    return width - phase / cycle * total;
}

void MarqueeText::setText(const QString& text)
{
    const QString line = plainText::oneLine(text);
    if (m_hasText && line == m_text)
        return;
    m_hasText = true;
    m_text = line;
    m_scrolls = scrolls(m_text);
    relayout();
    updateTicking();
    update();
}

void MarqueeText::setColour(const QColor& colour)
{
    if (colour == m_colour)
        return;
    m_colour = colour;
    update();
}

void MarqueeText::setOpacity(qreal opacity)
{
    if (opacity == m_opacity)
        return;
    m_opacity = opacity;
    update();
}

void MarqueeText::setBackdrop(Backdrop backdrop)
{
    m_backdrop = std::move(backdrop);
    m_stripKey.reset();
    setAttribute(Qt::WA_OpaquePaintEvent, bool(m_backdrop));
    update();
}

void MarqueeText::relayout()
{
    // Measured at once, from the font: the text is laid out once per change.
    const QFontMetrics metrics(font());
    m_textWidth = metrics.horizontalAdvance(m_text);
    if (m_scrolls)
        m_elided.clear();
    else
        m_elided = metrics.elidedText(m_text, Qt::ElideRight, width());
    renderLine();
}

void MarqueeText::renderLine()
{
    // Laid out once per change; each step copies the line drawn over what
    // lies beneath it (copyFromStrip), or draws the laid-out glyphs at the
    // new offset where it cannot.
    m_stripKey.reset();
    m_strip = QImage();
    if (!m_scrolls) {
        m_line = QStaticText();
        return;
    }
    m_line = QStaticText(m_text);
    m_line.setTextFormat(Qt::PlainText);
    m_line.setPerformanceHint(QStaticText::AggressiveCaching);
    m_line.prepare(QTransform(), font());
}

int MarqueeText::offsetAt(qint64 msSinceEpoch) const
{
    return int(std::floor(offset(secondsSinceReference(msSinceEpoch), width(), m_textWidth)));
}

int MarqueeText::currentOffset() const
{
    return offsetAt(m_ticker.nowMs());
}

int MarqueeText::textTop() const
{
    return (height() - QFontMetrics(font()).height()) / 2;
}

std::optional<qint64> MarqueeText::nextStep(qint64 nowMs) const
{
    // The millisecond after the drawn position changes: when the text has
    // moved a whole pixel (every 40 ms at 25 px/s), or when the cycle starts
    // again. Texts with whole-pixel widths change at the same moments; the
    // margin keeps the rounding of each one's formula from waking them a
    // millisecond apart.
    const double width = this->width();
    const double total = width + m_textWidth;
    if (total <= 0)
        return std::nullopt; // nothing to cross: it never moves
    const double cycle = std::max(total / speed, 0.1);
    const double phase = std::fmod(secondsSinceReference(nowMs), cycle);
    const double x = width - phase / cycle * total;
    const int drawn = int(std::floor(x));
    const double pixelsPerMs = total / cycle / 1000.0;
    constexpr double margin = 0.01;
    const qint64 moved = nowMs + qint64(std::floor((x - drawn) / pixelsPerMs + margin)) + 1;
    const qint64 wrapped = nowMs + qint64(std::floor((cycle - phase) * 1000.0 + margin)) + 1;
    qint64 next = std::min(moved, wrapped);
    // Rounding can put the moment a millisecond early.
    for (int i = 0; i < 3 && offsetAt(next) == drawn; ++i)
        ++next;
    return next;
}

std::optional<qint64> MarqueeText::onStep()
{
    const qint64 now = m_ticker.nowMs();
    if (const int offset = offsetAt(now); offset != m_drawnOffset) {
        // A line that can be copied goes straight into the window's backing store.
        if (m_backdrop && m_opacity == 1 && (!m_stripKey || !m_strip.isNull())) {
            m_ticker.repaint(this, [this, offset](QImage& image, QPoint at) {
                m_drawnOffset = offset;
                return copyFromStrip(image, at, rect(), true);
            });
        } else {
            m_ticker.repaint(this);
        }
    }
    return nextStep(now);
}

void MarqueeText::updateTicking()
{
    if (isVisible() && !m_sight) {
        m_sight = WindowSight::of(window());
        connect(m_sight, &WindowSight::seenChanged, this, [this] { updateTicking(); });
    }
    const bool seen = !m_sight || m_sight->isSeen();
    if (m_scrolls && isVisible() && seen) {
        if (const std::optional<qint64> due = nextStep(m_ticker.nowMs()))
            m_ticker.attachAt(this, *due, [this] { return onStep(); });
        else
            m_ticker.detach(this);
        // Seen again after a pause: show where the text stands now.
        if (currentOffset() != m_drawnOffset)
            update();
    } else {
        m_ticker.detach(this);
    }
}

void MarqueeText::paintEvent(QPaintEvent* event)
{
    if (m_scrolls) {
        m_drawnOffset = currentOffset();
        // The image Qt paints this widget into, where a copy can go straight in.
        QPoint redirection;
        QPaintDevice* device = sharedPainter() ? nullptr : redirected(&redirection);
        if (device && device->devType() == QInternal::Image) {
            auto* target = static_cast<QImage*>(device);
            QBackingStore* store = window()->backingStore();
            if (copyFromStrip(*target, -redirection, event->region(),
                              store && store->paintDevice() == device))
                return;
        }
    }
    QPainter painter(this);
    if (m_backdrop) {
        const QPoint origin = mapTo(window(), QPoint());
        painter.translate(-origin);
        m_backdrop.paint(painter, event->rect().translated(origin));
        painter.translate(origin);
    }
    painter.setOpacity(m_opacity);
    painter.setPen(m_colour);
    painter.setFont(font());
    if (!m_scrolls) {
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_elided);
        return;
    }
    painter.drawStaticText(QPoint(m_drawnOffset, textTop()), m_line);
}

// A step copies the visible part of the line, drawn once over its backdrop,
// into the image being painted, instead of blending every glyph again: the
// same pixels, as long as what the line was drawn over is exactly what lies
// beneath it here. That holds when the backdrop is one colour along each
// line of pixels (the text may then stand anywhere) and either opaque, or
// copied into the backing store of a translucent window, which Qt clears to
// transparent before it paints there. The copy needs no painter: it goes
// straight into the image, this widget's top-left corner at `at`, within
// `region`.
bool MarqueeText::copyFromStrip(QImage& target, QPoint at, const QRegion& region, bool inBackingStore)
{
    if (!m_backdrop || m_opacity != 1 || target.devicePixelRatio() != 1)
        return false;
    const QWidget* top = window();
    const bool cleared =
        inBackingStore && target.hasAlphaChannel() && top->testAttribute(Qt::WA_TranslucentBackground);
    const QRect parts = region.boundingRect() & rect();
    if (!target.rect().contains(parts.translated(at)))
        return false;
    const qint64 backdrop = m_backdrop.key ? m_backdrop.key() : 0;
    const StripKey key{size(), mapTo(top, QPoint()), m_colour, backdrop, target.format(), cleared};
    if (key != m_stripKey)
        drawStrip(key);
    if (m_strip.isNull())
        return false;
    const int stripLeft = width() - m_drawnOffset; // the strip's column at this widget's left edge
    if (stripLeft < 0 || stripLeft + width() > m_strip.width())
        return false;
    const uchar* strip = m_strip.constBits();
    uchar* image = target.bits();
    for (const QRect& r : region) {
        const QRect part = r & rect();
        for (int y = part.top(); y <= part.bottom(); ++y) {
            const uchar* from = strip + y * m_strip.bytesPerLine() + (stripLeft + part.left()) * 4;
            uchar* to = image + (y + at.y()) * target.bytesPerLine() + (at.x() + part.left()) * 4;
            std::memcpy(to, from, std::size_t(part.width()) * 4);
        }
    }
    return true;
}

void MarqueeText::drawStrip(const StripKey& key)
{
    m_stripKey = key;
    m_strip = QImage();
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0 ||
        (key.format != QImage::Format_RGB32 && key.format != QImage::Format_ARGB32_Premultiplied))
        return;
    // What lies beneath, painted as it is painted here: over transparent, so
    // that a backdrop that is not opaque shows as such.
    QImage beneath(w, h, QImage::Format_ARGB32_Premultiplied);
    beneath.fill(Qt::transparent);
    {
        QPainter painter(&beneath);
        painter.translate(-key.origin);
        m_backdrop.paint(painter, QRect(key.origin, size()));
    }
    std::vector<QRgb> lineColours(std::size_t(h), 0);
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(beneath.constScanLine(y));
        if (!std::all_of(line, line + w, [first = line[0]](QRgb pixel) { return pixel == first; }))
            return;
        if (!key.cleared && qAlpha(line[0]) != 255)
            return;
        lineColours[std::size_t(y)] = line[0];
    }
    QImage strip(m_textWidth + 2 * w, h, key.format);
    // Laid out for the widget's resolution, as where it stands.
    strip.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
    strip.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(strip.scanLine(y));
        std::fill(line, line + strip.width(), lineColours[std::size_t(y)]);
    }
    QPainter painter(&strip);
    painter.setPen(m_colour);
    painter.setFont(font());
    painter.drawStaticText(QPoint(w, textTop()), m_line);
    painter.end();
    m_strip = std::move(strip);
}

void MarqueeText::resizeEvent(QResizeEvent*)
{
    if (m_scrolls) {
        updateTicking(); // the cycle follows the width
    } else {
        m_elided = QFontMetrics(font()).elidedText(m_text, Qt::ElideRight, width());
    }
}

void MarqueeText::showEvent(QShowEvent*)
{
    updateTicking();
}

void MarqueeText::hideEvent(QHideEvent*)
{
    m_ticker.detach(this);
}

void MarqueeText::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        relayout();
    QWidget::changeEvent(event);
}

} // namespace pondra
