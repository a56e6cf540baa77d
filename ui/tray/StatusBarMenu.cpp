#include "ui/tray/StatusBarMenu.h"

#include "app/AppState.h"
#include "ui/kit/WindowFinder.h"

#include <QAction>
#include <QMenu>

namespace pondra {

StatusBarMenu::StatusBarMenu(AppState& appState, QObject* parent)
    : QObject(parent), m_appState(appState), m_menu(std::make_unique<QMenu>())
{
    QMenu& menu = *m_menu;
    m_status = menu.addAction(QString());
    m_status->setEnabled(false);
    m_goAway = menu.addAction(tr("Go Away"));
    m_retakePhoto = menu.addAction(tr("Retake Photo"));
    m_imPondra = menu.addAction(tr("I'm Pondra"));
    menu.addSeparator();
    m_showMainWindow = menu.addAction(tr("Show Main Window"));
    m_showMainWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    m_showTeamWindow = menu.addAction(tr("Show Team Window"));
    m_showTeamWindow->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_2));
    menu.addSeparator();
    m_keepOnTop = menu.addAction(tr("Keep Team Window on Top"));
    m_keepOnTop->setCheckable(true);
    // The stored choice, read once; from here on only the user changes it.
    m_keepOnTop->setChecked(isTeamWindowKeptOnTop(appState.settingsStore()));
    menu.addSeparator();
    // The same actions as the main window's "Pondra" menu, so one shortcut
    // does one thing wherever it is pressed.
    WindowRegistry& registry = WindowRegistry::instance();
    menu.addAction(registry.settingsAction());
    menu.addSeparator();
    menu.addAction(registry.quitAction());

    CameraCapture& camera = appState.cameraCapture();
    connect(m_goAway, &QAction::triggered, &camera, &CameraCapture::resetPondra);
    connect(m_retakePhoto, &QAction::triggered, this, &StatusBarMenu::onCapture);
    connect(m_imPondra, &QAction::triggered, this, &StatusBarMenu::onCapture);
    connect(m_showMainWindow, &QAction::triggered, this, [] { WindowFinder::showMainWindow(); });
    connect(m_showTeamWindow, &QAction::triggered, this, [] { WindowFinder::showTeamWindow(); });
    // `triggered` comes only from the user (`toggled` would also fire on
    // setChecked), so opening the menu or loading the choice stores nothing.
    connect(m_keepOnTop, &QAction::triggered, this, &StatusBarMenu::onKeepOnTopTriggered);

    m_subscriptions.add(
        camera.isPondraMode.subscribe(this, [this](bool value) { onPresenceChanged(value); }));
    m_subscriptions.add(appState.userName().subscribe(this, [this](const QString&) { onUserNameChanged(); }));
}

StatusBarMenu::~StatusBarMenu() = default;

void StatusBarMenu::onPresenceChanged(bool isPondraMode)
{
    m_status->setText(isPondraMode ? tr("Status: Pondra") : tr("Status: Away"));
    m_goAway->setVisible(isPondraMode);
    m_retakePhoto->setVisible(isPondraMode);
    m_imPondra->setVisible(!isPondraMode);
}

void StatusBarMenu::onUserNameChanged()
{
    m_imPondra->setEnabled(m_appState.hasUserName());
}

void StatusBarMenu::onCapture()
{
    // Not a manual capture: a run without a usable photo raises no notice.
    m_appState.cameraCapture().capturePondra(false);
}

void StatusBarMenu::onKeepOnTopTriggered(bool checked)
{
    setKeepTeamWindowOnTop(m_appState.settingsStore(), checked);
}

} // namespace pondra
