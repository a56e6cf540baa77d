#pragma once

#include "platform/core/Published.h"

#include <QObject>

#include <memory>

class QAction;
class QMenu;

namespace pondra {

class AppState;

/**
 * The tray's menu, built once: whether the user is present or away, going
 * away, retaking the photo or coming back, the main and team windows, keeping
 * the team window on top, the settings and quitting. The entries are shown,
 * hidden and enabled as the state changes; the menu is never rebuilt. It is
 * the only writer of the stored "keepTeamWindowOnTop". Main thread only.
 */
class StatusBarMenu final : public QObject
{
    Q_OBJECT
public:
    explicit StatusBarMenu(AppState& appState, QObject* parent = nullptr);
    ~StatusBarMenu() override;

    QMenu* menu() const { return m_menu.get(); }

    QAction* statusAction() const { return m_status; }
    QAction* goAwayAction() const { return m_goAway; }
    QAction* retakePhotoAction() const { return m_retakePhoto; }
    QAction* imPondraAction() const { return m_imPondra; }
    QAction* showMainWindowAction() const { return m_showMainWindow; }
    QAction* showTeamWindowAction() const { return m_showTeamWindow; }
    QAction* keepOnTopAction() const { return m_keepOnTop; }

private:
    void onPresenceChanged(bool isPondraMode);
    void onUserNameChanged();
    void onCapture();
    void onKeepOnTopTriggered(bool checked);

    AppState& m_appState;
    std::unique_ptr<QMenu> m_menu;
    QAction* m_status = nullptr;
    QAction* m_goAway = nullptr;
    QAction* m_retakePhoto = nullptr;
    QAction* m_imPondra = nullptr;
    QAction* m_showMainWindow = nullptr;
    QAction* m_showTeamWindow = nullptr;
    QAction* m_keepOnTop = nullptr;
    SubscriptionBag m_subscriptions;
};

} // namespace pondra
