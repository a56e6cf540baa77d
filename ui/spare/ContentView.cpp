#include "ui/spare/ContentView.h"

#include "sensing/IdleMonitor.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/Palette.h"
#include "ui/kit/TextStyles.h"
#include "ui/kit/WindowFinder.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace pondra {

/// A filled circle of its own size.
class ContentView::Dot final : public QWidget
{
public:
    Dot(int side, QWidget* parent) : QWidget(parent) { setFixedSize(side, side); }
    void setColour(const QColor& colour)
    {
        m_colour = colour;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        glyphs::paintDot(painter, rect(), m_colour);
    }

private:
    QColor m_colour;
};

namespace {

/// Ctrl+Q, the keys of the program's own quit command.
bool isQuitKey(const QEvent* event)
{
    return static_cast<const QKeyEvent*>(event)->keyCombination() ==
           QKeyCombination(Qt::ControlModifier, Qt::Key_Q);
}

QFrame* divider(QWidget* parent)
{
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

/// A label, a flexible space, and a value in the secondary colour.
QLabel* addValueRow(QVBoxLayout& column, const QString& label, QWidget* parent)
{
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(label, parent));
    row->addStretch(1);
    auto* value = new QLabel(parent);
    QPalette quiet = value->palette();
    quiet.setColor(QPalette::WindowText, palette::secondary(quiet));
    value->setPalette(quiet);
    row->addWidget(value);
    column.addLayout(row);
    return value;
}

} // namespace

ContentViewModel ContentViewModel::from(const IdleMonitor& monitor)
{
    return {monitor.isIdle.get(), monitor.statusText(), monitor.formattedIdleTime(),
            QString::number(qint64(monitor.idleThreshold)) + QLatin1Char('s')};
}

QColor ContentViewModel::dotColour() const
{
    return isIdle ? palette::orange() : palette::green();
}

ContentView::ContentView(IdleMonitor& idleMonitor, std::function<void()> onQuit, QWidget* parent)
    : QWidget(parent), m_idleMonitor(idleMonitor), m_onQuit(std::move(onQuit))
{
    setFixedWidth(panelWidth);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(8);
    column->setContentsMargins(12, 12, 12, 12);

    auto* header = new QHBoxLayout;
    m_dot = new Dot(10, this);
    m_status = new QLabel(this);
    m_status->setFont(text::system(text::body().pixelSize(), QFont::DemiBold));
    header->addWidget(m_dot);
    header->addWidget(m_status);
    header->addStretch(1);
    column->addLayout(header);
    column->addWidget(divider(this));
    // DejaVu Sans draws every digit at the same width, so the ticking time
    // does not shift sideways.
    m_idleTime = addValueRow(*column, tr("Idle Time:"), this);
    m_threshold = addValueRow(*column, tr("Threshold:"), this);
    column->addWidget(divider(this));

    m_quit = new QPushButton(tr("Quit"), this);
    m_quit->setAutoDefault(false);
    connect(m_quit, &QPushButton::clicked, this, &ContentView::onQuit);
    column->addWidget(m_quit, 0, Qt::AlignLeft);

    connect(&m_idleMonitor, &IdleMonitor::changed, this, &ContentView::onMonitorChanged);
    onMonitorChanged();
}

void ContentView::onQuit()
{
    if (m_onQuit)
        m_onQuit();
    else
        WindowRegistry::instance().quitAction()->trigger();
}

bool ContentView::event(QEvent* event)
{
    // Claimed before the shortcuts are looked at, so Ctrl+Q comes here as a key press.
    if (event->type() == QEvent::ShortcutOverride && isQuitKey(event)) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void ContentView::keyPressEvent(QKeyEvent* event)
{
    if (isQuitKey(event)) {
        m_quit->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ContentView::onMonitorChanged()
{
    m_model = ContentViewModel::from(m_idleMonitor);
    m_dot->setColour(m_model.dotColour());
    m_status->setText(m_model.statusText);
    m_idleTime->setText(m_model.idleTime);
    m_threshold->setText(m_model.threshold);
}

} // namespace pondra
