#include "ui/team/MiniUserRow.h"

#include "ui/kit/FilledButton.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PhotoTile.h"
#include "ui/kit/PlainText.h"
#include "ui/kit/TextStyles.h"
#include "ui/team/MarqueeText.h"

#include <QMouseEvent>
#include <QPainter>

namespace pondra {

namespace {
constexpr int spacing = 6;
constexpr int detailLeft = MiniUserRow::photoSide + spacing;
constexpr int dotSide = 10;
constexpr int buttonHeight = 24;
constexpr int audioLineHeight = 10;
constexpr int statusHeight = 10;

QFont nameFont()
{
    return text::system(10, QFont::Medium);
}

FilledButton* makeButton(const QString& label, const QColor& fill, Glyph glyph, QWidget* parent)
{
    auto* button = new FilledButton(label, fill, parent);
    button->setFont(text::system(10, QFont::Medium));
    button->setGlyph(glyph, 10);
    button->setRadius(4);
    button->setFocusPolicy(Qt::NoFocus);
    button->hide();
    return button;
}
} // namespace

MiniUserRow::MiniUserRow(FrameTicker& ticker, QWidget* parent) : QWidget(parent)
{
    setFixedSize(sizeHint());
    m_status = new MarqueeText(ticker, this);
    m_status->setFont(text::system(8));
    m_status->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_status->hide();

    const int detailWidth = rowWidth - detailLeft;
    const int buttonTop = (photoSide - buttonHeight) / 2;
    m_ring = makeButton(tr("Ring"), palette::orange(), Glyph::bellFill, this);
    m_ring->setGeometry(detailLeft, buttonTop, detailWidth, buttonHeight);
    m_pencil = makeButton(QString(), palette::blue(), Glyph::pencil, this);
    m_pencil->setToolTip(tr("Update status"));
    m_pencil->setAccessibleName(tr("Update status"));
    m_pencil->setGeometry(detailLeft, buttonTop, buttonHeight, buttonHeight);
    m_toggle = makeButton(tr("Away"), palette::gray(), Glyph::moonFill, this);
    m_toggle->setGeometry(detailLeft + buttonHeight + 4, buttonTop, detailWidth - buttonHeight - 4,
                          buttonHeight);

    connect(m_ring, &QPushButton::clicked, this, &MiniUserRow::ringRequested);
    connect(m_pencil, &QPushButton::clicked, this, &MiniUserRow::statusEditRequested);
    connect(m_toggle, &QPushButton::clicked, this, &MiniUserRow::presenceToggleRequested);
}

void MiniUserRow::setUser(const RemoteUser& user, const QString& userName, bool isPondraMode)
{
    TeamRowModel model = TeamRowModel::from(user, userName, isPondraMode);
    if (!m_hasPhotoText || user.photo != m_photoText) {
        m_hasPhotoText = true;
        m_photoText = user.photo;
        m_model.photo = user.decodedPhoto();
    }
    model.photo = m_model.photo;
    if (m_hasModel && model == m_model)
        return;
    m_hasModel = true;
    m_model = std::move(model);
    applyModel();
    update();
}

int MiniUserRow::detailTop() const
{
    const int nameHeight = QFontMetrics(nameFont()).height();
    const int height = nameHeight + 2 + audioLineHeight + (m_model.showsStatus() ? 2 + statusHeight : 0);
    return (photoSide - height) / 2;
}

void MiniUserRow::applyModel()
{
    const int nameHeight = QFontMetrics(nameFont()).height();
    const int statusTop = detailTop() + nameHeight + 2 + audioLineHeight + 2;
    const int textWidth = rowWidth - detailLeft - spacing - dotSide;
    m_status->setGeometry(detailLeft, statusTop, textWidth, statusHeight);
    m_status->setColour(palette::secondary(palette()));
    m_status->setText(m_model.status.value_or(QString()));
    m_status->setVisible(!m_hovering && m_model.showsStatus());

    // Screen readers read the row as the member, whatever the row paints.
    const QString name = plainText::oneLine(m_model.name);
    setAccessibleName(name);
    setAccessibleDescription(m_model.accessibleDescription());
    m_ring->setAccessibleName(tr("Ring %1").arg(name));

    const QList<RowAction> actions = m_model.hoverActions();
    m_ring->setVisible(m_hovering && actions.contains(RowAction::ring));
    m_pencil->setVisible(m_hovering && actions.contains(RowAction::updateStatus));
    m_toggle->setVisible(m_hovering && actions.contains(RowAction::togglePresence));
    m_toggle->setText(m_model.toggleLabel());
    m_toggle->setGlyph(m_model.toggleGlyph(), 10);
    m_toggle->setFill(m_model.toggleFill());

    const QFontMetrics metrics(nameFont());
    m_nameRect = QRect(detailLeft, detailTop(), textWidth, metrics.height());
    m_elidedName = metrics.elidedText(plainText::oneLine(m_model.name), Qt::ElideRight, textWidth);
}

void MiniUserRow::setHovering(bool hovering)
{
    if (hovering == m_hovering)
        return;
    m_hovering = hovering;
    applyModel();
    update();
}

void MiniUserRow::enterEvent(QEnterEvent*)
{
    setHovering(true);
}

void MiniUserRow::leaveEvent(QEvent*)
{
    setHovering(false);
}

void MiniUserRow::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    Q_EMIT doubleClicked();
}

void MiniUserRow::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect photo(0, 0, photoSide, photoSide);
    if (event->rect().intersects(photo.adjusted(0, 0, badgeOverhang, badgeOverhang))) {
        photoTile::paint(painter, photo, m_model.photo, photoTile::placeholderStyle(8, 20));
        if (m_model.isInMeeting) {
            // 10 px glyph padded by 4 on a green circle, hanging 4 px past the corner.
            const QRectF badge(photoSide - 18 + badgeOverhang, photoSide - 18 + badgeOverhang, 18, 18);
            painter.setPen(Qt::NoPen);
            painter.setBrush(palette::green());
            painter.drawEllipse(badge);
            glyphs::paint(painter, Glyph::videoFill, badge, 10, palette::white());
        }
    }
    if (m_hovering)
        return;

    // The scrolling status repaints its own strip many times a second; the
    // rest of the row is drawn only where it is exposed.
    if (event->rect().intersects(m_nameRect)) {
        painter.setFont(nameFont());
        painter.setPen(palette::primary(palette()));
        painter.drawText(m_nameRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_elidedName);
    }
    const QRect audioLine(detailLeft, m_nameRect.bottom() + 1 + 2, m_nameRect.width(), audioLineHeight);
    if (event->rect().intersects(audioLine)) {
        int x = audioLine.left();
        for (const AudioMark& mark : m_model.audioMarks()) {
            glyphs::paint(painter, mark.glyph, QRectF(x, audioLine.top(), 8, audioLineHeight), 8,
                          mark.colour);
            x += 8 + 3;
        }
    }
    const QRectF dot(rowWidth - dotSide, (photoSide - dotSide) / 2.0, dotSide, dotSide);
    if (event->rect().intersects(dot.toAlignedRect())) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette::idleColor(m_model.idleState));
        painter.drawEllipse(dot);
    }
}

} // namespace pondra
