#include "ui/tray/TrayIcon.h"

#include "app/AppState.h"
#include "platform/core/Log.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>

namespace pondra {

TrayIcon::TrayIcon(AppState& appState, MenuBarIcon::Locator locate, QObject* parent)
    : QObject(parent), m_menu(appState), m_icon(appState.cameraCapture(), std::move(locate)),
      m_tray(std::make_unique<QSystemTrayIcon>())
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
    return QObject::eventFilter(watched, event);
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    // A left click opens the same menu as a right click.
    if (reason == QSystemTrayIcon::Trigger)
        m_menu.menu()->popup(QCursor::pos());
}

} // namespace pondra
