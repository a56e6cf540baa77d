#include "ui/team/RingRequestView.h"

#include "ui/kit/FilledButton.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PhotoTile.h"
#include "ui/kit/PlainText.h"
#include "ui/kit/TextStyles.h"

#include <QPainter>

namespace pondra {

namespace {
constexpr int spacing = 8;
QFont nameFont()
{
    return text::system(12, QFont::DemiBold);
}
} // namespace

RingRequestView::RingRequestView(QWidget* parent) : QWidget(parent)
{
    m_accept = new FilledButton(tr("Sure!"), palette::green(), this);
    m_accept->setFont(text::system(12, QFont::Medium));
    m_accept->setRadius(6);
    m_accept->setPadding(QMargins(8, 6, 8, 6));
    m_accept->setFocusPolicy(Qt::NoFocus);
    connect(m_accept, &QPushButton::clicked, this, &RingRequestView::accepted);
    setFixedSize(sizeHint());
    const int buttonTop = padding + photoSide + spacing + nameHeight() + spacing;
    m_accept->setGeometry(padding, buttonTop, cardWidth - 2 * padding, m_accept->sizeHint().height());
}

int RingRequestView::nameHeight() const
{
    return QFontMetrics(nameFont()).height();
}

QSize RingRequestView::sizeHint() const
{
    return QSize(cardWidth, padding + photoSide + spacing + nameHeight() + spacing +
                                m_accept->sizeHint().height() + padding);
}

void RingRequestView::setRing(const QString& senderName, const std::optional<QImage>& photo)
{
    m_name = plainText::oneLine(senderName);
    setAccessibleName(tr("%1 is ringing").arg(m_name));
    m_photo = photo;
    update();
}

void RingRequestView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect photo((cardWidth - photoSide) / 2, padding, photoSide, photoSide);
    photoTile::paint(painter, photo, m_photo, photoTile::placeholderStyle(8, 40));

    const int inner = cardWidth - 2 * padding;
    const QFontMetrics metrics(nameFont());
    painter.setFont(nameFont());
    painter.setPen(palette::primary(palette()));
    painter.drawText(QRect(padding, photo.bottom() + 1 + spacing, inner, metrics.height()),
                     Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextSingleLine,
                     metrics.elidedText(m_name, Qt::ElideRight, inner));
}

} // namespace pondra
