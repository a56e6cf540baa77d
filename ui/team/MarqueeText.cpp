#include "ui/team/MarqueeText.h"

#include "ui/kit/FrameTicker.h"
#include "ui/kit/PlainText.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace pondra {

MarqueeText::MarqueeText(FrameTicker& ticker, QWidget* parent) : QWidget(parent), m_ticker(ticker)
{
    m_laidOut.setTextFormat(Qt::PlainText);
    m_laidOut.setPerformanceHint(QStaticText::AggressiveCaching);
}

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
    static const qint64 reference = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    return double(moment.toMSecsSinceEpoch() - reference) / 1000.0;
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

void MarqueeText::relayout()
{
    // Measured at once, from the font: the text is laid out once per change.
    const QFontMetrics metrics(font());
    m_textWidth = metrics.horizontalAdvance(m_text);
    if (m_scrolls) {
        m_laidOut.setText(m_text);
        m_laidOut.prepare(QTransform(), font());
        m_elided.clear();
    } else {
        m_laidOut.setText(QString());
        m_elided = metrics.elidedText(m_text, Qt::ElideRight, width());
    }
}

int MarqueeText::currentOffset() const
{
    // Widths are whole pixels, so every scrolling text steps on the same
    // ticks: 25 repaints a second whatever their number.
    return int(std::floor(offset(referenceSeconds(m_ticker.scheduler().now()), width(), m_textWidth)));
}

void MarqueeText::updateTicking()
{
    if (m_scrolls && isVisible())
        m_ticker.attach(this, [this] { onFrame(); });
    else
        m_ticker.detach(this);
}

void MarqueeText::onFrame()
{
    if (currentOffset() != m_drawnOffset)
        update();
}

void MarqueeText::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(m_colour);
    painter.setFont(font());
    if (!m_scrolls) {
        painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_elided);
        return;
    }
    m_drawnOffset = currentOffset();
    const QFontMetrics metrics(font());
    const int top = (height() - metrics.height()) / 2;
    painter.drawStaticText(QPoint(m_drawnOffset, top), m_laidOut);
}

void MarqueeText::resizeEvent(QResizeEvent*)
{
    if (!m_scrolls)
        m_elided = QFontMetrics(font()).elidedText(m_text, Qt::ElideRight, width());
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
