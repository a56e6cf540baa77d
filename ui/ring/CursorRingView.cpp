#include "ui/ring/CursorRingView.h"

#include "ui/kit/Glyphs.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PhotoTile.h"
#include "ui/kit/PlainText.h"
#include "ui/kit/TextStyles.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace pondra {

QString CursorRingView::ringingText()
{
    return tr("is ringing\u2026");
}

namespace {
// The bubble's measures.
constexpr int outerMargin = 6; // room for the panel's shadow inside the window
constexpr int horizontalPadding = 12;
constexpr int verticalPadding = 8;
constexpr int avatarSide = 40;
constexpr int avatarToText = 10;
constexpr int nameToCaption = 2;

QFont nameFont()
{
    return text::system(13, QFont::DemiBold);
}

QFont captionFont()
{
    return text::system(11);
}

int textWidth(const QFontMetricsF& metrics, const QString& text)
{
    return int(std::ceil(metrics.horizontalAdvance(text)));
}
} // namespace

CursorRingView::CursorRingView(const QString& name, std::optional<QImage> photo, QWidget* parent)
    : QWidget(parent), m_name(name), m_photo(std::move(photo))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

CursorRingLayout CursorRingView::layoutFor(const QString& name, const QSize& windowSize)
{
    const QFontMetrics nameMetrics(nameFont());
    const QFontMetrics captionMetrics(captionFont());
    const QString line = plainText::oneLine(name);

    // The texts take what the window leaves beside the photo, no more.
    const int widest = windowSize.width() - 2 * outerMargin;
    const int textRoom = std::max(0, widest - 2 * horizontalPadding - avatarSide - avatarToText);
    const int nameWidth = textWidth(QFontMetricsF(nameFont()), line);
    const int captionWidth = textWidth(QFontMetricsF(captionFont()), ringingText());
    const int columnWidth = std::min(std::max(nameWidth, captionWidth), textRoom);
    const int columnHeight = nameMetrics.height() + nameToCaption + captionMetrics.height();
    const int contentHeight = std::max(avatarSide, columnHeight);

    CursorRingLayout layout;
    const QSize bubble(2 * horizontalPadding + avatarSide + avatarToText + columnWidth,
                       2 * verticalPadding + contentHeight);
    layout.bubble =
        QRect(QPoint((windowSize.width() - bubble.width()) / 2, (windowSize.height() - bubble.height()) / 2),
              bubble);
    layout.avatar = QRect(layout.bubble.left() + horizontalPadding,
                          layout.bubble.top() + (bubble.height() - avatarSide) / 2, avatarSide, avatarSide);
    const int columnLeft = layout.avatar.right() + 1 + avatarToText;
    const int columnTop = layout.bubble.top() + (bubble.height() - columnHeight) / 2;
    layout.name = QRect(columnLeft, columnTop, columnWidth, nameMetrics.height());
    layout.caption =
        QRect(columnLeft, layout.name.bottom() + 1 + nameToCaption, columnWidth, captionMetrics.height());
    layout.shownName =
        nameWidth <= columnWidth ? line : nameMetrics.elidedText(line, Qt::ElideRight, columnWidth);
    return layout;
}

void CursorRingView::paintEvent(QPaintEvent*)
{
    const CursorRingLayout parts = layout();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);

    PhotoTileStyle avatarStyle;
    avatarStyle.radius = avatarSide / 2.0;
    avatarStyle.placeholderGlyph = Glyph::personCropCircleFill;
    avatarStyle.placeholderGlyphColour = palette::withOpacity(palette::white(), 0.8);
    avatarStyle.placeholderGlyphFills = true;
    photoTile::paint(p, QRectF(parts.avatar), m_photo, avatarStyle);
    p.setPen(QPen(palette::withOpacity(palette::white(), 0.4), 1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(parts.avatar).adjusted(0.5, 0.5, -0.5, -0.5));

    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    p.setFont(nameFont());
    p.setPen(palette::white());
    p.drawText(parts.name, flags, parts.shownName);
    p.setFont(captionFont());
    p.setPen(palette::withOpacity(palette::white(), 0.75));
    p.drawText(parts.caption, flags, ringingText());
}

} // namespace pondra
