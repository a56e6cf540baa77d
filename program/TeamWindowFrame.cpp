#include "program/TeamWindowFrame.h"

#include "ui/kit/WindowFinder.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

namespace pondra {

namespace {
// The frame is stored under the window's own identifier.
const QString& frameKey = WindowIdentifiers::teamWindow;
} // namespace

ScreenAreas systemScreenAreas()
{
    ScreenAreas areas;
    if (const QScreen* primary = QGuiApplication::primaryScreen())
        areas.primary = primary->availableGeometry();
    for (const QScreen* screen : QGuiApplication::screens())
        areas.all.append(screen->availableGeometry());
    return areas;
}

TeamWindowFrame::TeamWindowFrame(QWidget& window, SettingsStore& settings, Scheduler& scheduler,
                                 std::function<ScreenAreas()> screens, QObject* parent)
    : QObject(parent), m_window(&window), m_settings(settings), m_scheduler(scheduler),
      m_screens(std::move(screens))
{
    window.installEventFilter(this);
}

TeamWindowFrame::~TeamWindowFrame()
{
    // Quitting right after a move must not lose where the window was left.
    if (m_pendingSave.isActive())
        save();
}

QPoint TeamWindowFrame::defaultTopLeft(const ScreenAreas& screens)
{
    if (!screens.primary)
        return {0, 0};
    return screens.primary->topLeft() + QPoint(margin, margin);
}

std::optional<QRect> TeamWindowFrame::parseFrame(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    int values[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    if (values[2] <= 0 || values[3] <= 0)
        return std::nullopt;
    return QRect(values[0], values[1], values[2], values[3]);
}

QString TeamWindowFrame::formatFrame(const QRect& frame)
{
    return QStringLiteral("%1,%2,%3,%4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height());
}

void TeamWindowFrame::restore()
{
    const ScreenAreas screens = m_screens();
    QPoint topLeft = defaultTopLeft(screens);
    if (const auto stored = parseFrame(m_settings.text(frameKey).value_or(QString()))) {
        const bool onAScreen = std::any_of(screens.all.cbegin(), screens.all.cend(), [&](const QRect& area) {
            return area.contains(stored->topLeft());
        });
        if (onAScreen)
            topLeft = stored->topLeft();
    }
    m_window->move(topLeft);
    if (isTeamWindowKeptOnTop(m_settings))
        m_window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

void TeamWindowFrame::showWithoutFocus()
{
    m_window->setAttribute(Qt::WA_ShowWithoutActivating, true);
    m_window->show();
}

bool TeamWindowFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window) {
        if (event->type() == QEvent::Move) {
            m_pendingSave.cancel();
            m_pendingSave = m_scheduler.after(saveDelay, this, [this] { save(); });
        } else if (event->type() == QEvent::Hide) {
            save();
        }
    }
    return QObject::eventFilter(watched, event);
}

void TeamWindowFrame::save()
{
    m_pendingSave.cancel();
    if (m_window)
        m_settings.setText(frameKey, formatFrame(m_window->frameGeometry()));
}

} // namespace pondra
