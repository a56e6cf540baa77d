#include "ui/spare/RingMenuView.h"

#include "ui/kit/FilledButton.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PhotoTile.h"
#include "ui/kit/PlainText.h"
#include "ui/kit/TextStyles.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace pondra {

namespace {

/// The ringer's photo as a square tile of its own size.
class PhotoView final : public QWidget
{
public:
    PhotoView(std::optional<QImage> photo, QWidget* parent) : QWidget(parent), m_photo(std::move(photo))
    {
        setFixedSize(RingMenuView::photoSide, RingMenuView::photoSide);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        photoTile::paint(painter, rect(), m_photo,
                         photoTile::placeholderStyle(RingMenuView::photoRadius, 40));
    }

private:
    std::optional<QImage> m_photo;
};

} // namespace

RingMenuView::RingMenuView(const QString& senderName, std::optional<QImage> photo,
                           std::function<void()> onAccept, std::function<void()> onDecline, QWidget* parent)
    : QWidget(parent), m_onAccept(std::move(onAccept)), m_onDecline(std::move(onDecline))
{
    setFixedWidth(panelWidth);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(12);
    column->setContentsMargins(padding, padding, padding, padding);
    column->addWidget(new PhotoView(std::move(photo), this), 0, Qt::AlignHCenter);

    auto* titleLabel = new ElidedLabel(this);
    titleLabel->setFont(text::headline());
    titleLabel->setAlignment(Qt::AlignCenter);
    titleLabel->setPeerText(title(senderName));
    column->addWidget(titleLabel);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(buttonSpacing);
    m_later = new QPushButton(tr("Maybe Later"), this);
    m_later->setAutoDefault(false);
    auto* sure = new FilledButton(tr("Sure!"), palette::blue(), this);
    sure->setRadius(6);
    sure->setPadding(QMargins(6, 4, 6, 4));
    m_sure = sure;
    for (QPushButton* button : {m_later, m_sure}) {
        button->setFixedWidth(buttonWidth);
        buttons->addWidget(button);
    }
    column->addLayout(buttons);
    column->setAlignment(buttons, Qt::AlignHCenter);

    connect(m_later, &QPushButton::clicked, this, [this] {
        if (m_onDecline)
            m_onDecline();
    });
    connect(m_sure, &QPushButton::clicked, this, [this] {
        if (m_onAccept)
            m_onAccept();
    });
}

QString RingMenuView::title(const QString& senderName)
{
    return tr("%1 wants to chat!").arg(senderName);
}

} // namespace pondra
