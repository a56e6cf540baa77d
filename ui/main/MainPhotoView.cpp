#include "ui/main/MainPhotoView.h"

#include "ui/kit/Palette.h"
#include "ui/kit/PhotoTile.h"
#include "ui/kit/TextStyles.h"

#include <QPainter>
#include <QPainterPath>

namespace pondra {

namespace {
constexpr qreal cornerRadius = 8;
constexpr qreal overlayInset = 8;
constexpr int badgeGlyph = 14;
constexpr qreal badgeSpacing = 6;
constexpr qreal badgePadding = 6;
const QMarginsF timePadding(6, 3, 6, 3);
const QMarginsF noticePadding(10, 6, 10, 6);

QString noticeText()
{
    return MainPhotoView::tr("Bad photo, try again");
}

QFont overlayFont()
{
    return text::system(12, QFont::Medium);
}

void fillRounded(QPainter& painter, const QRectF& rect, qreal radius, const QColor& fill)
{
    QPainterPath shape;
    shape.addRoundedRect(rect, radius, radius);
    painter.fillPath(shape, fill);
}

QSizeF textBox(const QString& text, const QMarginsF& padding)
{
    const QFontMetricsF metrics(overlayFont());
    return QSizeF(metrics.horizontalAdvance(text), metrics.height()).grownBy(padding);
}
} // namespace

MainPhotoView::MainPhotoView(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMaximumHeight(maxSide);
}

void MainPhotoView::setPhoto(const std::optional<QImage>& photo)
{
    m_photo = photo;
    update();
}

void MainPhotoView::setBadge(const QList<PhotoBadgeMark>& marks)
{
    if (m_badge == marks)
        return;
    m_badge = marks;
    update();
}

void MainPhotoView::setPhotoTime(const std::optional<QString>& text)
{
    if (m_photoTime == text)
        return;
    m_photoTime = text;
    update();
}

void MainPhotoView::setNoticeOpacity(qreal opacity)
{
    opacity = std::clamp(opacity, 0.0, 1.0);
    if (qFuzzyCompare(m_noticeOpacity + 1, opacity + 1))
        return;
    m_noticeOpacity = opacity;
    update();
}

QSize MainPhotoView::sizeHint() const
{
    return QSize(maxSide, maxSide);
}

QSize MainPhotoView::minimumSizeHint() const
{
    return QSize(80, 80);
}

QRectF MainPhotoView::squareRect() const
{
    const qreal side = std::min({qreal(width()), qreal(height()), qreal(maxSide)});
    return QRectF((width() - side) / 2, (height() - side) / 2, side, side);
}

QRectF MainPhotoView::badgeRect() const
{
    const qsizetype n = m_badge.size();
    const qreal content = n == 0 ? 0 : n * badgeGlyph + (n - 1) * badgeSpacing;
    const QSizeF size(content + 2 * badgePadding, (n == 0 ? 0 : badgeGlyph) + 2 * badgePadding);
    const QRectF square = squareRect();
    return QRectF(QPointF(square.right() - overlayInset - size.width(), square.top() + overlayInset), size);
}

QRectF MainPhotoView::timeRect() const
{
    if (!m_photoTime)
        return {};
    const QSizeF size = textBox(*m_photoTime, timePadding);
    const QRectF square = squareRect();
    return QRectF(square.bottomRight() - QPointF(overlayInset, overlayInset) -
                      QPointF(size.width(), size.height()),
                  size);
}

QRectF MainPhotoView::noticeRect() const
{
    const QSizeF size = textBox(noticeText(), noticePadding);
    QRectF rect(QPointF(), size);
    rect.moveCenter(squareRect().center());
    return rect;
}

void MainPhotoView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF square = squareRect();

    PhotoTileStyle style;
    style.radius = cornerRadius;
    style.placeholderFill = palette::withOpacity(palette::gray(), 0.2);
    style.placeholderGlyph = Glyph::cameraFill;
    style.placeholderGlyphSize = text::largeTitle().pixelSize();
    style.placeholderGlyphColour = palette::gray();
    style.placeholderCaption = tr("No photo yet");
    style.placeholderCaptionFont = text::caption();
    style.placeholderCaptionColour = palette::secondary(palette());
    // Under a photo the gray square shows through its transparent parts.
    if (m_photo && !m_photo->isNull()) {
        QPainterPath clip;
        clip.addRoundedRect(square, cornerRadius, cornerRadius);
        painter.fillPath(clip, style.placeholderFill);
    }
    photoTile::paint(painter, square, m_photo, style);

    // The badge is drawn also when empty: its padding and pane stay.
    const QRectF badge = badgeRect();
    fillRounded(painter, badge, 6, palette::thinMaterial(palette()));
    qreal x = badge.left() + badgePadding;
    for (const PhotoBadgeMark& mark : m_badge) {
        glyphs::paint(painter, mark.glyph, QRectF(x, badge.top() + badgePadding, badgeGlyph, badgeGlyph),
                      badgeGlyph, mark.colour);
        x += badgeGlyph + badgeSpacing;
    }

    painter.setFont(overlayFont());
    if (m_photoTime) {
        const QRectF time = timeRect();
        fillRounded(painter, time, 4, palette::thinMaterial(palette()));
        painter.setPen(palette::white());
        painter.drawText(time.marginsRemoved(timePadding), Qt::AlignCenter | Qt::TextSingleLine,
                         *m_photoTime);
    }

    if (m_noticeOpacity > 0) {
        painter.setOpacity(m_noticeOpacity);
        const QRectF notice = noticeRect();
        fillRounded(painter, notice, 6, palette::withOpacity(palette::red(), 0.8));
        painter.setPen(palette::white());
        painter.drawText(notice.marginsRemoved(noticePadding), Qt::AlignCenter | Qt::TextSingleLine,
                         noticeText());
    }
}

} // namespace pondra
