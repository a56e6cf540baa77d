#include "ui/team/MiniWindow.h"

#include "app/AppState.h"
#include "ui/kit/FrameTicker.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PlainText.h"
#include "ui/kit/TextStyles.h"
#include "ui/kit/WindowFinder.h"
#include "ui/kit/X11WindowState.h"
#include "ui/status/StatusEditView.h"
#include "ui/team/MiniUserRow.h"
#include "ui/team/RingRequestView.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace pondra {

namespace {
constexpr int contentLeft = MiniWindow::margin + MiniWindow::padding;
constexpr int contentWidth = MiniWindow::panelWidth - 2 * MiniWindow::padding;
constexpr int rowPitch = MiniUserRow::photoSide + MiniWindow::spacing;
constexpr int dotSide = 5;

SurfaceLook lookFor(const QPalette& palette)
{
    SurfaceLook look;
    look.radius = 10;
    look.fill = palette::material(palette);
    look.shadowBlur = 6;
    look.shadowOffset = QPoint(0, 2);
    return look;
}

int headerHeight()
{
    return std::max(QFontMetrics(text::system(9, QFont::DemiBold)).height(),
                    QFontMetrics(text::system(8)).height());
}

// The window with the header and this many rows.
int listHeight(int rowCount)
{
    int panel = MiniWindow::padding + headerHeight() + 2 + MiniWindow::padding;
    if (rowCount > 0)
        panel +=
            MiniWindow::spacing + rowCount * MiniUserRow::photoSide + (rowCount - 1) * MiniWindow::spacing;
    return 2 * MiniWindow::margin + panel;
}
} // namespace

MiniWindow::MiniWindow(AppState& app, std::shared_ptr<CompositingQuery> compositing,
                       std::shared_ptr<PointerAndScreens> screens, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus), m_app(app),
      m_screens(std::move(screens)), m_ticker(std::make_unique<FrameTicker>(app.scheduler())),
      m_surface(*this, std::move(compositing), lookFor(palette()))
{
    // Its identifier for the window lookup and, as its role, for the window system.
    setObjectName(WindowIdentifiers::teamWindow);
    setWindowRole(WindowIdentifiers::teamWindow);
    setWindowTitle(tr("Pondra Team"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    // The window is never active, and Qt shows tooltips (the pencil's) only
    // in the active window unless told otherwise.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFocusPolicy(Qt::NoFocus);
    // A panel of the program, not a window of its own in the taskbar.
    keepOutOfTaskbarAndPager(*this);
    WindowRegistry::instance().add(this);

    m_teamName = new ElidedLabel(this);
    m_teamName->setFont(text::system(9, QFont::DemiBold));
    m_reconnecting = new QLabel(tr("reconnecting"), this);
    m_reconnecting->setTextFormat(Qt::PlainText);
    m_reconnecting->setFont(text::system(8));
    palette::setTextColour(*m_reconnecting, palette::orange());
    applyColours();

    m_card = new RingRequestView(this);
    m_card->move(margin, margin);
    m_card->hide();
    connect(m_card, &RingRequestView::accepted, this, [this] { m_app.acceptRing(); });

    m_subscriptions.add(
        m_app.remoteUsers.subscribe(this, [this](const QList<RemoteUser>& users) { showTeam(users); }));
    m_subscriptions.add(m_app.userName().subscribe(this, [this](const QString&) { refreshRows(); }));
    m_subscriptions.add(m_app.cameraCapture().isPondraMode.subscribe(this, [this](bool) { refreshRows(); }));
    m_subscriptions.add(m_app.teamName().subscribe(this, [this](const QString&) { refreshHeader(); }));
    m_subscriptions.add(m_app.isConnected.subscribe(this, [this](bool) { refreshHeader(); }));
    m_subscriptions.add(
        m_app.incomingRing.subscribe(this, [this](const std::optional<IncomingRing>&) { refreshRing(); }));
}

MiniWindow::~MiniWindow()
{
    m_subscriptions.clear();
    // The rows' scrolling texts use the frame tick, a member that goes before
    // the children would.
    for (const auto& [key, row] : m_rows)
        delete row;
    m_rows.clear();
}

QList<MiniUserRow*> MiniWindow::rows() const
{
    QList<MiniUserRow*> out;
    for (const auto& [key, row] : m_rows)
        out.append(row);
    return out;
}

StatusEditView* MiniWindow::statusEditor() const
{
    return m_statusEditor;
}

bool MiniWindow::showsRingCard() const
{
    return m_app.incomingRing.get().has_value();
}

void MiniWindow::showTeam(const QList<RemoteUser>& users)
{
    m_users = users;
    const QList<RowKey> keys = rowKeys(users);
    // Reuse rows by record identity, so a row keeps its hover across updates.
    QHash<std::pair<QString, int>, MiniUserRow*> existing;
    existing.reserve(qsizetype(m_rows.size()));
    for (const auto& [key, row] : m_rows)
        existing.insert({key.id, key.occurrence}, row);
    std::vector<std::pair<RowKey, MiniUserRow*>> next;
    next.reserve(keys.size());
    for (const RowKey& key : keys) {
        MiniUserRow* row = existing.take({key.id, key.occurrence});
        next.emplace_back(key, row ? row : makeRow());
    }
    for (MiniUserRow* gone : std::as_const(existing))
        delete gone;
    m_rows = std::move(next);
    refreshRows();
}

MiniUserRow* MiniWindow::makeRow()
{
    auto* row = new MiniUserRow(*m_ticker, this);
    // Beneath a status lies the panel alone: the status paints that part of
    // it itself, so a step repaints neither the window nor the row.
    row->setBackdrop({[this](QPainter& painter, const QRect& exposed) { m_surface.paint(painter, exposed); },
                      [this] { return m_surface.cacheKey(); }});
    connect(row, &MiniUserRow::ringRequested, this, [this, row] { onRing(row); });
    connect(row, &MiniUserRow::presenceToggleRequested, this, &MiniWindow::onTogglePresence);
    connect(row, &MiniUserRow::statusEditRequested, this, &MiniWindow::onEditStatus);
    connect(row, &MiniUserRow::doubleClicked, this, [this, row] { onRowDoubleClicked(row); });
    return row;
}

void MiniWindow::refreshRows()
{
    const QString& userName = m_app.userName().get();
    const bool present = m_app.cameraCapture().isPondraMode.get();
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        m_rows[i].second->setUser(m_users[qsizetype(i)], userName, present);
    relayout();
}

void MiniWindow::refreshHeader()
{
    m_header = TeamHeaderModel::from(m_app.teamName().get(), m_app.isConnected.get());
    m_teamName->setText(m_header.teamName);
    relayout();
}

void MiniWindow::refreshRing()
{
    if (const auto& ring = m_app.incomingRing.get())
        m_card->setRing(ring->from, ring->photo);
    relayout();
}

int MiniWindow::contentHeight() const
{
    return showsRingCard() ? 2 * margin + m_card->height() : listHeight(int(m_rows.size()));
}

int MiniWindow::cappedHeight() const
{
    const int content = contentHeight();
    const std::optional<int> room =
        teamWindowRoom(m_screens->screens(), QRect(pos(), QSize(windowWidth, content)));
    if (!room)
        return content;
    // Never less than the header; the ring card is never cut, as its one
    // button must stay in reach.
    const int floor = showsRingCard() ? content : listHeight(0);
    return std::max(floor, std::min(*room, content));
}

void MiniWindow::relayout()
{
    const bool card = showsRingCard();
    const int height = cappedHeight();
    setFixedSize(windowWidth, height);

    m_card->setVisible(card);
    const int top = margin + padding;
    const int header = headerHeight();
    const QFontMetrics small(m_reconnecting->font());
    const int reconnectingWidth = small.horizontalAdvance(m_reconnecting->text());
    const int markWidth = m_header.showsReconnecting ? dotSide + 3 + reconnectingWidth : 0;
    m_teamName->setGeometry(contentLeft, top, contentWidth - (markWidth ? markWidth + spacing : 0), header);
    m_teamName->setVisible(!card);
    m_reconnecting->setGeometry(contentLeft + contentWidth - reconnectingWidth, top, reconnectingWidth,
                                header);
    m_reconnecting->setVisible(!card && m_header.showsReconnecting);

    // Rows end at the panel's inner edge: one that crosses it is cut there,
    // those below it are hidden, so they cost nothing. (The meeting badge of
    // a row that fits may hang into the padding.)
    const int rowsEnd = height - margin - padding;
    int y = top + header + 2 + spacing;
    for (const auto& [key, row] : m_rows) {
        if (row->pos() != QPoint(contentLeft, y))
            row->move(contentLeft, y);
        const bool shown = !card && y < rowsEnd;
        if (row->isVisibleTo(this) != shown)
            row->setVisible(shown);
        row->setCut(shown && y + MiniUserRow::photoSide > rowsEnd ? std::optional<int>(rowsEnd - y)
                                                                  : std::nullopt);
        y += rowPitch;
    }

    const QRect panel = card ? QRect(QPoint(margin, margin), m_card->size())
                             : QRect(margin, margin, panelWidth, contentHeight() - 2 * margin);
    m_surface.setPanelRect(panel.intersected(QRect(0, 0, windowWidth, height - margin)));
    update();
}

void MiniWindow::setVisible(bool visible)
{
    if (visible)
        m_surface.prepareShow();
    QWidget::setVisible(visible);
}

void MiniWindow::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    m_surface.paint(painter, event->rect());
    if (!showsRingCard() && m_header.showsReconnecting) {
        const QRect label = m_reconnecting->geometry();
        const QRectF dot(label.left() - 3 - dotSide, label.center().y() - dotSide / 2.0 + 0.5, dotSide,
                         dotSide);
        if (event->rect().intersects(dot.toAlignedRect())) {
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(palette::orange());
            painter.drawEllipse(dot);
        }
    }
}

void MiniWindow::moveEvent(QMoveEvent* event)
{
    // The room below the window changes with its place and its screen.
    if (cappedHeight() != height())
        relayout();
    QWidget::moveEvent(event);
}

void MiniWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        applyColours();
    QWidget::changeEvent(event);
}

// From the window's palette, at construction and whenever it changes (a
// desktop switched to dark while the program runs).
void MiniWindow::applyColours()
{
    m_surface.setLook(lookFor(palette()));
    palette::setTextColour(*m_teamName, palette::secondary(palette()));
}

void MiniWindow::onRing(MiniUserRow* row)
{
    // A ring is addressed by the teammate's name, read when the button is pressed.
    if (!row->model().isSelf)
        m_app.sendRing(row->model().name);
}

void MiniWindow::onTogglePresence()
{
    CameraCapture& capture = m_app.cameraCapture();
    if (capture.isPondraMode.get())
        capture.resetPondra();
    else
        capture.capturePondra(true);
}

void MiniWindow::onEditStatus()
{
    if (!m_statusEditor)
        m_statusEditor = new StatusEditView(m_app, this);
    m_statusEditor->open();
}

void MiniWindow::onRowDoubleClicked(MiniUserRow* row)
{
    if (row->model().isSelf)
        WindowFinder::showMainWindow();
}

// Dragging the background (rows included) moves the window: through the
// window manager where it can, by hand where it cannot (no window manager).
void MiniWindow::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = true;
    m_manualMove = false;
    m_pressGlobal = event->globalPosition().toPoint();
    m_pressWindowPos = pos();
}

void MiniWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressed || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint delta = event->globalPosition().toPoint() - m_pressGlobal;
    if (m_manualMove) {
        move(m_pressWindowPos + delta);
        return;
    }
    if (delta.manhattanLength() < QApplication::startDragDistance())
        return;
    if (windowHandle() && windowHandle()->startSystemMove()) {
        m_pressed = false;
        return;
    }
    m_manualMove = true;
    move(m_pressWindowPos + delta);
}

void MiniWindow::mouseReleaseEvent(QMouseEvent*)
{
    m_pressed = false;
    m_manualMove = false;
}

} // namespace pondra
