#include "ui/tray/TrayIcon.h"

#include "app/AppState.h"
#include "platform/core/Log.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>

namespace pondra {

namespace {
// Qt draws an XEmbed tray icon in a small window of its own, which is the
// only way to find the icon's place on such a panel.
constexpr char embeddedIconClass[] = "QSystemTrayIconSys";
} // namespace

TrayIcon::TrayIcon(AppState& appState, MenuBarIcon::Locator locate, std::shared_ptr<PanelBackground> panel,
                   QObject* parent)
    : QObject(parent), m_panel(std::move(panel)), m_menu(appState),
      m_icon(appState.cameraCapture(), std::move(locate)), m_tray(std::make_unique<QSystemTrayIcon>())
{
    m_tray->setIcon(m_icon.icon());
    m_tray->setContextMenu(m_menu.menu());
    connect(&m_icon, &MenuBarIcon::iconChanged, m_tray.get(), &QSystemTrayIcon::setIcon);
    connect(m_tray.get(), &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
    // The icon reports itself visible whether or not a host shows it, so ask
    // for a host directly.
    m_hasTrayHost = QSystemTrayIcon::isSystemTrayAvailable();
    if (!m_hasTrayHost)
        logInfo(lcApp, "No system tray available; running without the tray icon");
    m_tray->show();
    qApp->installEventFilter(this);
}

TrayIcon::~TrayIcon() = default;

bool TrayIcon::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        m_tray->setIcon(m_icon.icon());
    // Qt makes that window when a tray is found, which can be long after the
    // icon was shown, and anew for each panel: it is recognised as it is drawn.
    else if (event->type() == QEvent::Paint && watched->isWidgetType() &&
             watched->inherits(embeddedIconClass))
        onEmbeddedIconDrawn(static_cast<QWidget*>(watched));
    return QObject::eventFilter(watched, event);
}

void TrayIcon::onEmbeddedIconDrawn(QWidget* window)
{
    // Looked at once the drawing is on the screen; a new colour redraws the
    // icon, whose next look then finds the same panel and stops there.
    m_embedded = window;
    if (m_lookPending)
        return;
    m_lookPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_lookPending = false;
            if (m_embedded && m_embedded->isVisible())
                m_icon.setPanelBackground(m_panel->around(m_embedded->winId()));
        },
        Qt::QueuedConnection);
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    // A left click opens the same menu as a right click.
    if (reason == QSystemTrayIcon::Trigger)
        m_menu.menu()->popup(QCursor::pos());
}

} // namespace pondra
