#pragma once

#include "platform/tray/PanelBackground.h"
#include "ui/tray/MenuBarIcon.h"
#include "ui/tray/StatusBarMenu.h"

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

#include <memory>

namespace pondra {

class AppState;

/**
 * The program's icon in the panel with its menu: the icon shows whether the
 * user is present or away, and a right or a left click opens the same menu.
 * When the desktop's colours change, the icon is handed to the panel again,
 * so the pixels of hosts that take pixels follow the new window text. An
 * XEmbed panel, which takes pixels only, is looked at around the icon each
 * time the icon is drawn there, so the symbol's colour is one that shows on
 * it.
 *
 * Qt picks the tray's kind once, when the first tray icon of the process is
 * made: a StatusNotifierItem with its menu exported over D-Bus when a watcher
 * with a registered host is on the session bus then, otherwise an XEmbed
 * icon. Make this early, once the session is up. Without any tray host the
 * program goes on without it (the main window's "Pondra" menu holds the same
 * commands that matter). Main thread only.
 */
class TrayIcon final : public QObject
{
    Q_OBJECT
public:
    explicit TrayIcon(AppState& appState, MenuBarIcon::Locator locate = {},
                      std::shared_ptr<PanelBackground> panel = makeDefaultPanelBackground(),
                      QObject* parent = nullptr);
    ~TrayIcon() override;

    QSystemTrayIcon& systemTrayIcon() { return *m_tray; }
    StatusBarMenu& menu() { return m_menu; }
    MenuBarIcon& icon() { return m_icon; }
    /// Whether a tray host was there when the icon was made.
    bool hasTrayHost() const { return m_hasTrayHost; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    /// The window Qt draws the icon in for an XEmbed panel was drawn.
    void onEmbeddedIconDrawn(QWidget* window);

    std::shared_ptr<PanelBackground> m_panel;
    QPointer<QWidget> m_embedded;
    bool m_lookPending = false;
    StatusBarMenu m_menu;
    MenuBarIcon m_icon;
    // Last, so the icon goes before the menu it shows.
    std::unique_ptr<QSystemTrayIcon> m_tray;
    bool m_hasTrayHost = false;
};

} // namespace pondra
