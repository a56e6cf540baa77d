#include "ui/status/DetailCheckBox.h"

#include "ui/kit/Palette.h"
#include "ui/kit/PlainText.h"

#include <QStyleOptionButton>
#include <QStylePainter>

namespace pondra {

DetailCheckBox::DetailCheckBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {}

void DetailCheckBox::setDetail(const QString& detail)
{
    const QString line = plainText::oneLine(detail);
    if (line == m_detail)
        return;
    m_detail = line;
    setAccessibleDescription(m_detail);
    update();
}

void DetailCheckBox::setDetailFont(const QFont& font)
{
    m_detailFont = font;
    updateGeometry();
    update();
}

QStyleOptionButton DetailCheckBox::firstLineOption() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    option.rect.setHeight(QCheckBox::sizeHint().height());
    return option;
}

QRect DetailCheckBox::detailRect() const
{
    const QStyleOptionButton option = firstLineOption();
    const int left = style()->subElementRect(QStyle::SE_CheckBoxContents, &option, this).left();
    return QRect(left, option.rect.bottom() + 1 + lineSpacing, std::max(0, width() - left),
                 QFontMetrics(m_detailFont).height());
}

QString DetailCheckBox::shownDetail() const
{
    return QFontMetrics(m_detailFont).elidedText(m_detail, Qt::ElideRight, detailRect().width());
}

QSize DetailCheckBox::sizeHint() const
{
    // As wide as the box and its text: the second line takes the width it is
    // given and is cut to it, so a long track never widens the window.
    const QSize first = QCheckBox::sizeHint();
    return QSize(first.width(), first.height() + lineSpacing + QFontMetrics(m_detailFont).height());
}

QSize DetailCheckBox::minimumSizeHint() const
{
    return QSize(QCheckBox::minimumSizeHint().width(), sizeHint().height());
}

bool DetailCheckBox::hitButton(const QPoint& pos) const
{
    const QStyleOptionButton option = firstLineOption();
    if (style()->subElementRect(QStyle::SE_CheckBoxClickRect, &option, this).contains(pos))
        return true;
    QRect second = detailRect();
    second.setWidth(QFontMetrics(m_detailFont).horizontalAdvance(shownDetail()));
    return second.contains(pos);
}

void DetailCheckBox::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    painter.drawControl(QStyle::CE_CheckBox, firstLineOption());
    painter.setFont(m_detailFont);
    painter.setPen(palette::secondary(palette()));
    painter.drawText(detailRect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shownDetail());
}

} // namespace pondra
