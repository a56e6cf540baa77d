#include "ui/status/StatusEditView.h"

#include "app/AppState.h"
#include "ui/kit/FilledButton.h"
#include "ui/kit/Palette.h"
#include "ui/kit/TextStyles.h"
#include "ui/status/DetailCheckBox.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace pondra {

namespace {
constexpr int padding = 24;

/// What is trimmed from either end: the Unicode space separators (Zs) and the tab.
bool isTrimmed(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}
} // namespace

QString StatusEditView::cleanedStatus(const QString& input)
{
    QString text = input;
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isTrimmed(text.at(begin)))
        ++begin;
    while (end > begin && isTrimmed(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

StatusEditView::StatusEditView(AppState& app, QWidget* parent) : QDialog(parent), m_app(app)
{
    setWindowTitle(tr("Set Your Status"));
    setWindowModality(Qt::WindowModal);
    // The team window never takes the focus; this window must, for typing.
    setWindowFlag(Qt::WindowDoesNotAcceptFocus, false);

    // The window's size follows its content, whose width the title sets.
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(padding, padding, padding, padding);
    root->setSpacing(20);
    root->setSizeConstraint(QLayout::SetFixedSize);

    auto* title = new QLabel(tr("Set Your Status"), this);
    title->setFont(text::headline());
    title->setAlignment(Qt::AlignHCenter);
    title->setMinimumWidth(windowWidth - 2 * padding);
    root->addWidget(title);

    const auto quietLabel = [this](const QString& text, const QFont& font) {
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        label->setFont(font);
        m_quietLabels.append(label);
        return label;
    };

    auto* fields = new QVBoxLayout;
    fields->setSpacing(12);
    auto* statusBlock = new QVBoxLayout;
    statusBlock->setSpacing(4);
    statusBlock->addWidget(quietLabel(tr("What are you up to?"), text::caption()));
    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(tr("e.g. Focusing on design review"));
    m_field->setFont(text::body());
    m_field->setFixedWidth(280);
    statusBlock->addWidget(m_field);
    statusBlock->addWidget(
        quietLabel(tr("Your status will clear automatically tonight at 3:00 AM."), text::system(10)));
    fields->addLayout(statusBlock);

    m_includeNowPlaying = new DetailCheckBox(tr("Include Currently Playing"), this);
    m_includeNowPlaying->setFont(text::body());
    m_includeNowPlaying->setDetailFont(text::caption());
    fields->addWidget(m_includeNowPlaying);
    root->addLayout(fields);
    // The fields' column is as wide as its widest line, centred.
    root->setAlignment(fields, Qt::AlignHCenter);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(12);
    buttons->addStretch();
    m_clear = new QPushButton(tr("Clear"), this);
    m_save = new FilledButton(tr("Save"), palette::blue(), this);
    m_save->setRadius(5);
    m_save->setPadding(QMargins(14, 4, 14, 4));
    // No default button: Enter must never save.
    for (QPushButton* b : {m_clear, static_cast<QPushButton*>(m_save)}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        b->setFont(text::body());
        buttons->addWidget(b);
    }
    buttons->addStretch();
    root->addLayout(buttons);

    connect(m_save, &QPushButton::clicked, this, &StatusEditView::onSave);
    connect(m_clear, &QPushButton::clicked, this, &StatusEditView::onClear);
    connect(&m_app, &AppState::changed, this, &StatusEditView::refreshNowPlaying);
    applyQuietColours();
}

QPushButton* StatusEditView::saveButton() const
{
    return m_save;
}

QString StatusEditView::nowPlayingLine() const
{
    const QString track = m_app.nowPlayingMonitor().nowPlayingText();
    if (track.isEmpty())
        return tr("No music playing");
    return QString::fromUtf16(u"\U0001F3B5 ") + track;
}

void StatusEditView::refreshNowPlaying()
{
    m_includeNowPlaying->setDetail(nowPlayingLine());
}

void StatusEditView::applyQuietColours()
{
    for (QLabel* label : std::as_const(m_quietLabels))
        palette::setTextColour(*label, palette::secondary(palette()));
}

void StatusEditView::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // The desktop's colours may change while the program runs (a switch to a dark theme).
    if (event->type() == QEvent::PaletteChange)
        applyQuietColours();
}

void StatusEditView::showEvent(QShowEvent* event)
{
    if (!event->spontaneous()) {
        m_field->setText(m_app.userStatus().get());
        m_includeNowPlaying->setChecked(m_app.includeNowPlaying().get());
        refreshNowPlaying();
        m_field->setFocus(Qt::OtherFocusReason);
    }
    QDialog::showEvent(event);
    activateWindow();
    raise();
}

void StatusEditView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void StatusEditView::onSave()
{
    m_app.setUserStatus(cleanedStatus(m_field->text()));
    m_app.setIncludeNowPlaying(m_includeNowPlaying->isChecked());
    accept();
}

void StatusEditView::onClear()
{
    m_app.setUserStatus(QString());
    m_app.setIncludeNowPlaying(false);
    accept();
}

} // namespace pondra
