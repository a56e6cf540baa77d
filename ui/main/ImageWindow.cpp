#include "ui/main/ImageWindow.h"

#include "app/AppState.h"
#include "ui/kit/ChoiceBox.h"
#include "ui/kit/FilledButton.h"
#include "ui/kit/FrameTicker.h"
#include "ui/kit/Palette.h"
#include "ui/kit/RoundedLabel.h"
#include "ui/kit/TextStyles.h"
#include "ui/kit/WindowFinder.h"
#include "ui/main/MainPhotoView.h"

#include <QEasingCurve>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>

namespace pondra {

namespace {
constexpr int spacing = 12;
constexpr int sideInset = 16;
const QMargins buttonPadding(24, 8, 24, 8);

/// Two button lists with the same buttons, enabled or not.
bool sameButtons(const QList<PresenceButtonModel>& a, const QList<PresenceButtonModel>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].label != b[i].label || a[i].prominent != b[i].prominent || a[i].action != b[i].action)
            return false;
    }
    return true;
}

/// A row that keeps `widget` 16 px in from both sides.
QWidget* inset(QWidget* widget, QWidget* parent)
{
    auto* box = new QWidget(parent);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(sideInset, 0, sideInset, 0);
    layout->addWidget(widget);
    return box;
}
} // namespace

ImageWindow::ImageWindow(AppState& app, QWidget* parent) : QMainWindow(parent), m_app(app)
{
    setWindowTitle(QLatin1String(mainWindowTitle));
    WindowRegistry::instance().add(this);
    buildMenu();
    buildContent();

    const auto redraw = [this] { refresh(); };
    connect(&m_app, &AppState::changed, this, redraw);
    connect(&m_app.cameraCapture(), &CameraCapture::changed, this, redraw);
    connect(&m_app.idleMonitor(), &IdleMonitor::changed, this, redraw);
    connect(&m_app.audioMonitor(), &AudioMonitor::changed, this, redraw);
    connect(&m_app.nowPlayingMonitor(), &NowPlayingMonitor::changed, this, redraw);
    connect(&m_app.meetingMonitor(), &MeetingMonitor::changed, this, redraw);

    // Only changes count: a request already raised when the window is made waits for the next one.
    m_subscriptions.add(m_app.shouldOpenSettings.subscribe(
        this,
        dropRepeats<bool>(skipFirst<bool>([this](const bool& requested) { onSettingsRequest(requested); }))));

    refresh(true);
    resize(contentWidth, contentHeight + (menuWidget() ? menuWidget()->sizeHint().height() : 0));
}

ImageWindow::~ImageWindow()
{
    m_subscriptions.clear();
}

void ImageWindow::buildMenu()
{
    m_menu = menuBar()->addMenu(QStringLiteral("Pondra"));
    WindowRegistry& registry = WindowRegistry::instance();
    m_menu->addAction(registry.settingsAction());
    m_menu->addSeparator();
    m_menu->addAction(registry.quitAction());
}

void ImageWindow::setUpdateAction(QAction* action)
{
    if (m_updateAction) {
        m_menu->removeAction(m_updateAction);
        m_menu->removeAction(m_updateSeparator);
        m_updateAction = nullptr;
    }
    if (!action)
        return;
    QAction* first = m_menu->actions().value(0);
    m_menu->insertAction(first, action);
    if (!m_updateSeparator)
        m_updateSeparator = new QAction(this);
    m_updateSeparator->setSeparator(true);
    m_menu->insertAction(first, m_updateSeparator);
    m_updateAction = action;
}

void ImageWindow::onEditStatus()
{
    if (!m_statusEditor)
        m_statusEditor = new StatusEditView(m_app, this);
    m_statusEditor->open();
}

void ImageWindow::buildContent()
{
    auto* content = new QWidget(this);
    setCentralWidget(content);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, spacing, 0, spacing);
    column->setSpacing(spacing);
    column->addStretch(1);

    m_pill = new RoundedLabel(content);
    m_pill->setFont(text::caption());
    m_pill->setPadding(QMargins(12, 4, 12, 4));
    m_pill->setRadius(4);
    column->addWidget(m_pill, 0, Qt::AlignHCenter);

    m_header = new QWidget(content);
    auto* header = new QHBoxLayout(m_header);
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(8);
    m_name = new RoundedLabel(m_header);
    m_name->setFont(text::headline());
    m_name->setPadding(QMargins());
    m_name->setClickable(true);
    m_name->setAccessibleDescription(tr("Opens the settings"));
    connect(m_name, &RoundedLabel::clicked, this, [] { WindowRegistry::instance().openSettings(); });
    m_dot = new QLabel(tr("\u00b7"), m_header);
    m_dot->setTextFormat(Qt::PlainText);
    m_teamPicker = new ChoiceBox(m_header);
    m_teamPicker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_teamPicker->setAccessibleName(tr("Team"));
    connect(m_teamPicker, &ChoiceBox::chosen, this,
            [this](const QVariant& team) { m_app.setTeamName(team.toString()); });
    header->addWidget(m_name);
    header->addWidget(m_dot);
    header->addWidget(m_teamPicker);
    column->addWidget(m_header, 0, Qt::AlignHCenter);

    m_photo = new MainPhotoView(content);
    column->addWidget(inset(m_photo, content));

    m_statusLine = new RoundedLabel(content);
    m_statusLine->setFont(text::subheadline());
    m_statusLine->setPadding(QMargins(12, 6, 12, 6));
    m_statusLine->setRadius(6);
    m_statusLine->setFill(palette::withOpacity(palette::gray(), 0.1));
    m_statusLine->setClickable(true);
    m_statusLine->setAccessibleDescription(tr("Opens the status editor"));
    connect(m_statusLine, &RoundedLabel::clicked, this, &ImageWindow::onEditStatus);
    column->addWidget(m_statusLine, 0, Qt::AlignHCenter);

    m_nowPlaying = new RoundedLabel(content);
    m_nowPlaying->setFont(text::caption());
    m_nowPlaying->setPadding(QMargins(12, 4, 12, 4));
    m_nowPlaying->setRadius(6);
    m_nowPlaying->setFill(palette::withOpacity(palette::purple(), 0.1));
    m_nowPlaying->setGlyph(Glyph::musicNote, text::caption().pixelSize(), palette::purple());
    m_nowPlaying->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_nowPlayingBox = inset(m_nowPlaying, content);
    column->addWidget(m_nowPlayingBox);

    m_buttonRow = new QWidget(content);
    auto* buttons = new QHBoxLayout(m_buttonRow);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(spacing);
    column->addWidget(m_buttonRow, 0, Qt::AlignHCenter);
    column->addStretch(1);
}

void ImageWindow::refresh(bool everything)
{
    MainWindowModel next = MainWindowModel::read(m_app);
    if (!everything && next == m_model) {
        updateOnScreen();
        return;
    }
    const MainWindowModel previous = std::exchange(m_model, std::move(next));
    const MainWindowModel& m = m_model;

    m_pill->setPeerText(m.pill.text);
    m_pill->setFill(m.pill.fill);

    if (everything || m.header != previous.header) {
        m_name->setPeerText(m.header.nameText);
        m_dot->setVisible(m.header.showsTeamPicker);
        m_teamPicker->setVisible(m.header.showsTeamPicker);
    }
    if (everything || m.teams != previous.teams || m.teamName != previous.teamName)
        refillTeams();

    m_photo->setPhoto(m.photo);
    m_photo->setBadge(m.badge);
    m_photo->setPhotoTime(m.photoTime);
    if (m.showsBadPhotoNotice) {
        m_fade.cancel();
        m_photo->setNoticeOpacity(1);
    } else if (previous.showsBadPhotoNotice && m_clearingNotice && m_photo->noticeOpacity() > 0) {
        // Our own clearing fades the notice out; a capture starting removes it at once.
        m_fadeStartMs = m_app.scheduler().monotonicMs();
        m_fade.cancel();
        m_fade = m_app.scheduler().every(FrameTicker::period, this, [this] { onFadeFrame(); });
    } else if (!m_fade.isActive()) {
        m_photo->setNoticeOpacity(0);
    }

    m_statusLine->setPeerText(m.statusText);
    applyTextColours();

    m_nowPlayingBox->setVisible(m.nowPlaying.has_value());
    m_nowPlaying->setPeerText(m.nowPlaying.value_or(QString()));

    if (everything || !sameButtons(m.buttons, previous.buttons)) {
        rebuildButtons();
    } else {
        for (qsizetype i = 0; i < m_buttons.size() && i < m.buttons.size(); ++i)
            m_buttons[i]->setEnabled(m.buttons[i].enabled);
    }

    updateOnScreen();
}

void ImageWindow::refillTeams()
{
    QList<Choice> choices;
    for (const QString& team : m_model.teams)
        choices.append({plainText::oneLine(team), team});
    m_teamPicker->setChoices(choices, m_model.teamName);
}

void ImageWindow::applyTextColours()
{
    const QColor primary = palette::primary(palette());
    const QColor secondary = palette::secondary(palette());
    palette::setTextColour(*m_pill, secondary);
    palette::setTextColour(*m_name, m_model.header.isPlaceholder ? secondary : primary);
    palette::setTextColour(*m_dot, secondary);
    palette::setTextColour(*m_statusLine, m_model.statusIsPlaceholder ? secondary : primary);
    palette::setTextColour(*m_nowPlaying, secondary);
}

void ImageWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // The desktop's colours may change while the program runs (a switch to a dark theme).
    if (event->type() == QEvent::PaletteChange)
        applyTextColours();
}

void ImageWindow::rebuildButtons()
{
    // The row changes mostly from inside a click on one of its own buttons
    // ("Away", a capture turning present): each old button goes once its
    // signal has returned, and the focus moves to the new row's button in
    // the same place, so a keyboard user keeps it.
    const QList<QPushButton*> old = std::exchange(m_buttons, {});
    const qsizetype focused = old.indexOf(qobject_cast<QPushButton*>(focusWidget()));
    auto* row = static_cast<QHBoxLayout*>(m_buttonRow->layout());
    // Out of the layout first: showing a new button lays the row out at
    // once, and the old ones must not widen the window for it.
    for (QPushButton* button : old)
        row->removeWidget(button);
    for (const PresenceButtonModel& model : m_model.buttons) {
        QPushButton* button = nullptr;
        if (model.prominent) {
            auto* filled = new FilledButton(model.label, palette::blue(), m_buttonRow);
            filled->setPadding(buttonPadding);
            filled->setRadius(6);
            button = filled;
        } else {
            button = new QPushButton(model.label, m_buttonRow);
            const QFontMetrics metrics(text::headline());
            button->setMinimumSize(metrics.horizontalAdvance(model.label) + buttonPadding.left() +
                                       buttonPadding.right(),
                                   metrics.height() + buttonPadding.top() + buttonPadding.bottom());
        }
        // Enter must never start a capture.
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setFont(text::headline());
        button->setEnabled(model.enabled);
        const PresenceAction action = model.action;
        connect(button, &QPushButton::clicked, this, [this, action] { onPresenceAction(action); });
        row->addWidget(button);
        // In a shown row, shown now rather than on the next turn of the event
        // loop, so that it can take the focus.
        if (m_buttonRow->isVisible())
            button->show();
        m_buttons.append(button);
    }
    if (focused >= 0 && !m_buttons.isEmpty())
        m_buttons[std::min(focused, m_buttons.size() - 1)]->setFocus(Qt::OtherFocusReason);
    // Hidden only once the focus has moved, so it never passes through another widget.
    for (QPushButton* button : old) {
        button->hide();
        button->deleteLater();
    }
}

void ImageWindow::onPresenceAction(PresenceAction action)
{
    switch (action) {
    case PresenceAction::goAway:
        m_app.cameraCapture().resetPondra();
        break;
    case PresenceAction::capture:
        m_app.cameraCapture().capturePondra(true);
        break;
    }
}

void ImageWindow::onSettingsRequest(bool requested)
{
    if (!requested)
        return;
    m_app.setShouldOpenSettings(false);
    WindowRegistry::instance().openSettings();
}

void ImageWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) {
        m_shown = true;
        updateOnScreen();
    }
}

void ImageWindow::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    if (!event->spontaneous()) {
        m_shown = false;
        updateOnScreen();
    }
}

void ImageWindow::updateOnScreen()
{
    const bool picker = m_shown && m_model.header.showsTeamPicker;
    if (std::exchange(m_pickerOnScreen, picker) != picker && picker)
        m_app.fetchTeams();
    // Each appearance of the notice clears the flag once, 2 s later; nothing
    // cancels that, so an earlier clearing may end a later notice.
    const bool notice = m_shown && m_model.showsBadPhotoNotice;
    if (std::exchange(m_noticeOnScreen, notice) != notice && notice)
        m_app.scheduler().after(noticeDuration, this, [this] { onNoticeDue(); });
}

void ImageWindow::onNoticeDue()
{
    CameraCapture& capture = m_app.cameraCapture();
    if (!capture.photoSkipped.get())
        return;
    m_clearingNotice = true;
    capture.clearPhotoSkipped();
    m_clearingNotice = false;
}

void ImageWindow::onFadeFrame()
{
    const qreal t = qreal(m_app.scheduler().monotonicMs() - m_fadeStartMs) / qreal(noticeFade.count());
    if (t >= 1) {
        m_fade.cancel();
        m_photo->setNoticeOpacity(0);
        return;
    }
    m_photo->setNoticeOpacity(1 - QEasingCurve(QEasingCurve::InOutQuad).valueForProgress(t));
}

} // namespace pondra
