#include "ui/team/MiniUserRow.h"

#include "ui/kit/FilledButton.h"
#include "ui/kit/FrameTicker.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PhotoTile.h"
#include "ui/kit/PlainText.h"
#include "ui/kit/TextStyles.h"
#include "ui/team/MarqueeText.h"

#include <QEasingCurve>
#include <QGraphicsOpacityEffect>
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

/// Ease in and out, as a cubic Bézier from (0, 0) to (1, 1) through (0.42, 0) and (0.58, 1).
qreal easeInOut(qreal progress)
{
    static const QEasingCurve curve = [] {
        QEasingCurve c(QEasingCurve::BezierSpline);
        c.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
        return c;
    }();
    return progress <= 0 ? 0 : progress >= 1 ? 1 : curve.valueForProgress(progress);
}

/// A control's opacity during the swap; at rest it carries no effect, so it
/// is drawn as it always is.
void setFade(QWidget* widget, qreal opacity, bool fading)
{
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    if (!fading) {
        if (effect)
            widget->setGraphicsEffect(nullptr);
        return;
    }
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        widget->setGraphicsEffect(effect);
    }
    effect->setOpacity(opacity);
}
} // namespace

MiniUserRow::MiniUserRow(FrameTicker& ticker, QWidget* parent) : QWidget(parent), m_ticker(ticker)
{
    setFixedSize(sizeHint());
    setMask(rowRect());
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

    // Screen readers read the row as the member, whatever the row paints.
    const QString name = plainText::oneLine(m_model.name);
    setAccessibleName(name);
    setAccessibleDescription(m_model.accessibleDescription());
    m_ring->setAccessibleName(tr("Ring %1").arg(name));

    m_toggle->setText(m_model.toggleLabel());
    m_toggle->setGlyph(m_model.toggleGlyph(), 10);
    m_toggle->setFill(m_model.toggleFill());

    const QFontMetrics metrics(nameFont());
    m_nameRect = QRect(detailLeft, detailTop(), textWidth, metrics.height());
    m_elidedName = metrics.elidedText(plainText::oneLine(m_model.name), Qt::ElideRight, textWidth);

    applyShape();
    applySwap();
}

void MiniUserRow::applyShape()
{
    // The badge hangs into the gap below the row; the rest of the gap is not the row's.
    QRegion shape = m_model.isInMeeting ? QRegion(rowRect()) + QRect(photoSide - 18 + badgeOverhang,
                                                                     photoSide - 18 + badgeOverhang, 18, 18)
                                        : QRegion(rowRect());
    if (m_cut)
        shape &= QRect(0, 0, width(), *m_cut);
    if (mask() != shape)
        setMask(shape);
}

void MiniUserRow::setCut(std::optional<int> height)
{
    if (height == m_cut)
        return;
    m_cut = height;
    applyShape();
}

void MiniUserRow::applySwap()
{
    // While the swap runs both blocks are shown, the one fading into the other.
    const bool swapping = isSwapping();
    const bool details = !m_hovering || swapping;
    const bool buttons = m_hovering || swapping;
    const qreal shown = swapProgress();
    m_status->setVisible(details && m_model.showsStatus());
    m_status->setOpacity(1 - shown);
    const QList<RowAction> actions = m_model.hoverActions();
    const std::pair<FilledButton*, RowAction> controls[] = {{m_ring, RowAction::ring},
                                                            {m_pencil, RowAction::updateStatus},
                                                            {m_toggle, RowAction::togglePresence}};
    for (const auto& [button, action] : controls) {
        button->setVisible(buttons && actions.contains(action));
        // Buttons on their way out take no clicks.
        button->setAttribute(Qt::WA_TransparentForMouseEvents, !m_hovering);
        setFade(button, shown, swapping && button->isVisibleTo(this));
    }
}

qreal MiniUserRow::swapProgress() const
{
    return easeInOut(m_swap);
}

bool MiniUserRow::isSwapping() const
{
    return m_swap != (m_hovering ? 1 : 0);
}

void MiniUserRow::setHovering(bool hovering)
{
    if (hovering == m_hovering)
        return;
    m_hovering = hovering;
    // A swap turned back midway returns from where it stands.
    m_swapFrom = m_swap;
    m_swapStartMs = m_ticker.scheduler().monotonicMs();
    m_ticker.attach(this, [this] { onSwapFrame(); });
    applySwap();
    update();
}

void MiniUserRow::onSwapFrame()
{
    const qreal target = m_hovering ? 1 : 0;
    const qreal step =
        qreal(m_ticker.scheduler().monotonicMs() - m_swapStartMs) / qreal(swapDuration.count());
    m_swap = target > m_swapFrom ? std::min(target, m_swapFrom + step) : std::max(target, m_swapFrom - step);
    if (m_swap == target)
        m_ticker.detach(this);
    applySwap();
    update();
}

void MiniUserRow::setBackdrop(MarqueeText::Backdrop backdrop)
{
    m_status->setBackdrop(std::move(backdrop));
}

void MiniUserRow::changeEvent(QEvent* event)
{
    // The status takes its colour from the palette, also when the desktop's colours change.
    if (event->type() == QEvent::PaletteChange)
        m_status->setColour(palette::secondary(palette()));
    QWidget::changeEvent(event);
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
    if (m_hovering && !isSwapping())
        return;

    // The details fade out as the buttons fade in, and back. The scrolling
    // status paints its own strip; the rest is drawn only where it is exposed.
    painter.setOpacity(1 - swapProgress());
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
