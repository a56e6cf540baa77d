#include "ui/spare/UserRow.h"

#include "ui/kit/Palette.h"
#include "ui/kit/PhotoTile.h"
#include "ui/kit/PlainText.h"
#include "ui/kit/TextStyles.h"

#include <QPainter>

namespace pondra {

QList<TintedGlyph> UserRowModel::marks() const
{
    QList<TintedGlyph> out;
    if (isInMeeting)
        out.append({Glyph::videoFill, palette::green()});
    if (isPlayingAudio)
        out.append({Glyph::musicNote, palette::purple()});
    if (isUsingHeadphones)
        out.append({Glyph::headphones, palette::blue()});
    return out;
}

QColor UserRowModel::dotColour() const
{
    return palette::idleColor(idleState);
}

UserRow::UserRow(const QString& name, std::optional<QImage> image, bool isPlayingAudio,
                 bool isUsingHeadphones, bool isInMeeting, IdleState idleState, QWidget* parent)
    : QWidget(parent), m_model{plainText::oneLine(name), std::move(image), isPlayingAudio,
                               isUsingHeadphones,        isInMeeting,      idleState}
{
    setFont(text::headline());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

int UserRow::marksWidth() const
{
    return int(m_model.marks().size()) * (markSize + markSpacing) + dotSide;
}

QSize UserRow::sizeHint() const
{
    const int nameWidth = QFontMetrics(font()).horizontalAdvance(m_model.name);
    return QSize(photoSide + spacing + nameWidth + spacing + marksWidth(), photoSide + 2 * verticalPadding);
}

QSize UserRow::minimumSizeHint() const
{
    return QSize(photoSide + 2 * spacing + marksWidth(), photoSide + 2 * verticalPadding);
}

void UserRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int top = verticalPadding;
    const QRectF photo(0, top, photoSide, photoSide);
    photoTile::paint(painter, photo, m_model.image, photoTile::placeholderStyle(photoRadius, 20));

    // Marks and dot from the right edge, centred on the photo's middle.
    const qreal middle = top + photoSide / 2.0;
    qreal x = width() - dotSide;
    glyphs::paintDot(painter, QRectF(x, middle - dotSide / 2.0, dotSide, dotSide), m_model.dotColour());
    const QList<TintedGlyph> marks = m_model.marks();
    for (auto it = marks.crbegin(); it != marks.crend(); ++it) {
        x -= markSpacing + markSize;
        glyphs::paint(painter, it->glyph, QRectF(x, middle - markSize / 2.0, markSize, markSize), markSize,
                      it->colour);
    }

    // The name takes what is left between the photo and the marks.
    const int nameLeft = photoSide + spacing;
    const int nameWidth = std::max(0, int(x) - spacing - nameLeft);
    const QFontMetrics metrics(font());
    painter.setPen(palette::primary(palette()));
    painter.drawText(QRect(nameLeft, top, nameWidth, photoSide), Qt::AlignLeft | Qt::AlignVCenter,
                     metrics.elidedText(m_model.name, Qt::ElideRight, nameWidth));
}

} // namespace pondra
