#include "ui/settings/SettingsView.h"

#include "app/AppState.h"
#include "ui/kit/ChoiceBox.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/Palette.h"
#include "ui/kit/TextStyles.h"
#include "ui/kit/WindowFinder.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace pondra {

namespace {
QGroupBox* group(const QString& title, QWidget* parent)
{
    auto* box = new QGroupBox(title, parent);
    auto* form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    return box;
}

QFormLayout* formOf(QGroupBox* box)
{
    return static_cast<QFormLayout*>(box->layout());
}

constexpr struct
{
    const char* text;
    qint64 minutes;
} autoRetakeEntries[] = {
    {QT_TRANSLATE_NOOP("pondra::SettingsView", "Never"), 0},
    {QT_TRANSLATE_NOOP("pondra::SettingsView", "Every 1 minute"), 1},
    {QT_TRANSLATE_NOOP("pondra::SettingsView", "Every 2 minutes"), 2},
    {QT_TRANSLATE_NOOP("pondra::SettingsView", "Every 3 minutes"), 3},
    {QT_TRANSLATE_NOOP("pondra::SettingsView", "Every 5 minutes"), 5},
};

QList<Choice> autoRetakeChoices()
{
    QList<Choice> choices;
    for (const auto& entry : autoRetakeEntries)
        choices.append({SettingsView::tr(entry.text), entry.minutes});
    return choices;
}
} // namespace

SettingsView::SettingsView(AppState& app, QWidget* parent) : QWidget(parent), m_app(app)
{
    setWindowTitle(tr("Pondra Settings"));
    setFixedSize(windowWidth, windowHeight);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    // The groups scroll rather than being cut when fonts are large.
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A click passes the focus up to the first parent that takes it: were that
    // the scroll area, a click on the eye button would end the token's editing.
    scroll->setFocusPolicy(Qt::NoFocus);
    outer->addWidget(scroll);
    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(16, 12, 16, 12);
    column->setSpacing(12);
    scroll->setWidget(content);

    QGroupBox* profile = group(tr("Profile"), content);
    m_name = new QLineEdit(profile);
    m_email = new QLineEdit(profile);
    formOf(profile)->addRow(tr("Name"), m_name);
    formOf(profile)->addRow(tr("Email"), m_email);
    column->addWidget(profile);

    QGroupBox* server = group(tr("Server"), content);
    m_serverURL = new QLineEdit(server);
    formOf(server)->addRow(tr("Server URL"), m_serverURL);
    auto* tokenRow = new QHBoxLayout;
    m_apiToken = new QLineEdit(server);
    m_tokenEye = new QToolButton(server);
    // The keyboard reaches it with Tab; a click must not take the focus, or
    // it would end the token's editing.
    m_tokenEye->setFocusPolicy(Qt::TabFocus);
    m_tokenEye->setAutoRaise(true);
    showToken(false);
    tokenRow->addWidget(m_apiToken);
    tokenRow->addWidget(m_tokenEye);
    // Named as the field's label, so the field is read by it (a row holding a
    // layout gets no such label by itself).
    auto* tokenLabel = new QLabel(tr("API Token"), server);
    tokenLabel->setBuddy(m_apiToken);
    formOf(server)->addRow(tokenLabel, tokenRow);
    m_caption = new QLabel(tr("localhost uses http://, others use https://"), server);
    m_caption->setTextFormat(Qt::PlainText);
    m_caption->setFont(text::caption());
    formOf(server)->addRow(m_caption);
    column->addWidget(server);

    QGroupBox* camera = group(tr("Camera"), content);
    m_camera = new ChoiceBox(camera);
    m_autoRetake = new ChoiceBox(camera);
    m_bestPhoto = new QCheckBox(tr("Best Photo (burst mode)"), camera);
    m_bestPhoto->setToolTip(
        tr("Captures multiple frames and picks the best one. Turn off for faster single-frame capture."));
    formOf(camera)->addRow(tr("Camera"), m_camera);
    formOf(camera)->addRow(tr("Auto-retake Photo"), m_autoRetake);
    formOf(camera)->addRow(m_bestPhoto);
    column->addWidget(camera);
    column->addStretch(1);
    // One label column for the three groups, so their fields line up.
    int labelWidth = 0;
    const QList<QFormLayout*> forms{formOf(profile), formOf(server), formOf(camera)};
    for (QFormLayout* form : forms) {
        for (int row = 0; row < form->rowCount(); ++row) {
            if (QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole))
                labelWidth = std::max(labelWidth, label->sizeHint().width());
        }
    }
    for (QFormLayout* form : forms) {
        for (int row = 0; row < form->rowCount(); ++row) {
            if (QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole); label && label->widget())
                label->widget()->setMinimumWidth(labelWidth);
        }
    }

    // Only the user's edits write; loading runs with the signals blocked.
    connect(m_name, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (!text.isEmpty())
            m_app.setUserName(text);
    });
    connect(m_email, &QLineEdit::textEdited, this, [this](const QString& text) { m_app.setUserEmail(text); });
    connect(m_serverURL, &QLineEdit::editingFinished, this, &SettingsView::commitServerURL);
    connect(m_apiToken, &QLineEdit::editingFinished, this, &SettingsView::commitApiToken);
    connect(m_tokenEye, &QToolButton::clicked, this, [this] { showToken(!isTokenShown()); });
    connect(m_camera, &ChoiceBox::chosen, this, [this](const QVariant& id) {
        m_selectedCameraId = id.toString();
        m_app.cameraCapture().setSelectedCameraId(m_selectedCameraId);
    });
    connect(m_autoRetake, &ChoiceBox::chosen, this,
            [this](const QVariant& minutes) { m_app.setAutoRetakeMinutes(minutes.toLongLong()); });
    connect(m_bestPhoto, &QCheckBox::clicked, this,
            [this](bool checked) { m_app.cameraCapture().setUseBestPhoto(checked); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, &SettingsView::commitServerFields);

    m_subscriptions.add(m_app.cameraCapture().availableCameras.subscribe(
        this, [this](const QList<CameraDevice>&) { refillCameras(); }));
    // The interval is shown live, not only as loaded.
    m_subscriptions.add(m_app.autoRetakeMinutes().subscribe(
        this, [this](const qint64& minutes) { m_autoRetake->setChoices(autoRetakeChoices(), minutes); }));
    applyQuietColours();
}

SettingsView::~SettingsView()
{
    m_subscriptions.clear();
}

bool SettingsView::isTokenShown() const
{
    return m_apiToken->echoMode() == QLineEdit::Normal;
}

void SettingsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    // From hidden to shown only: raising an open window keeps what is typed.
    if (!event->spontaneous())
        load();
}

void SettingsView::hideEvent(QHideEvent* event)
{
    commitServerFields();
    QWidget::hideEvent(event);
}

void SettingsView::load()
{
    const QSignalBlocker name(m_name);
    const QSignalBlocker email(m_email);
    const QSignalBlocker url(m_serverURL);
    const QSignalBlocker token(m_apiToken);
    const QSignalBlocker box(m_bestPhoto);
    CameraCapture& capture = m_app.cameraCapture();

    m_name->setText(m_app.userName().get());
    m_email->setText(m_app.userEmail().get());
    m_committedServerURL = m_app.serverBaseURL().get();
    m_serverURL->setText(m_committedServerURL);
    m_committedApiToken = m_app.apiToken().get();
    m_apiToken->setText(m_committedApiToken);
    // Each opening starts with the token masked.
    showToken(false);
    m_selectedCameraId = capture.selectedCameraId();
    refillCameras();
    m_bestPhoto->setChecked(capture.useBestPhoto());
    m_loaded = true;
    // The cameras attached now; the list's publication fills the picker again.
    capture.refreshCameraList();
}

void SettingsView::commitServerFields()
{
    commitServerURL();
    commitApiToken();
}

void SettingsView::commitServerURL()
{
    const QString url = m_serverURL->text();
    if (!m_loaded || url.isEmpty() || url == m_committedServerURL)
        return;
    m_committedServerURL = url;
    m_app.setServerBaseURL(url);
}

void SettingsView::commitApiToken()
{
    const QString token = m_apiToken->text();
    if (!m_loaded || token == m_committedApiToken)
        return;
    m_committedApiToken = token;
    m_app.setApiToken(token);
}

void SettingsView::refillCameras()
{
    QList<Choice> choices{{tr("Default"), QString()}};
    for (const CameraDevice& device : m_app.cameraCapture().availableCameras.get())
        choices.append({device.name, device.id});
    m_camera->setChoices(choices, m_selectedCameraId);
}

void SettingsView::showToken(bool show)
{
    m_apiToken->setEchoMode(show ? QLineEdit::Normal : QLineEdit::Password);
    m_tokenEye->setIcon(glyphs::icon(show ? Glyph::eyeSlash : Glyph::eye, palette::secondary(palette())));
    m_tokenEye->setAccessibleName(show ? tr("Hide API token") : tr("Show API token"));
}

void SettingsView::applyQuietColours()
{
    palette::setTextColour(*m_caption, palette::secondary(palette()));
    showToken(isTokenShown());
}

void SettingsView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The desktop's colours may change while the program runs (a switch to a dark theme).
    if (event->type() == QEvent::PaletteChange)
        applyQuietColours();
}

void installSettingsWindow(AppState& app)
{
    WindowRegistry::instance().setSettingsWindowFactory([&app] { return new SettingsView(app); });
}

} // namespace pondra
