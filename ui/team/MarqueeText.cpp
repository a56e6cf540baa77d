#include "ui/team/MarqueeText.h"

#include "ui/kit/FrameTicker.h"
#include "ui/kit/PlainText.h"
#include "ui/kit/WindowSight.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStaticText>

#include <algorithm>
#include <cmath>

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
    // Laid out once per change; each step draws the laid-out glyphs at the
    // new offset. (A pre-drawn image of the line would round the blending of
    // the glyphs' edges differently from drawing them where they stand.)
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
    if (offsetAt(now) != m_drawnOffset)
        m_ticker.repaint(this);
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
    QPainter painter(this);
    if (m_backdrop) {
        const QPoint origin = mapTo(window(), QPoint());
        painter.translate(-origin);
        m_backdrop(painter, event->rect().translated(origin));
        painter.translate(origin);
    }
    painter.setOpacity(m_opacity);
    if (!m_scrolls) {
        painter.setPen(m_colour);
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_elided);
        return;
    }
    m_drawnOffset = currentOffset();
    painter.setPen(m_colour);
    painter.setFont(font());
    painter.drawStaticText(QPoint(m_drawnOffset, (height() - QFontMetrics(font()).height()) / 2), m_line);
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
