#include "program/ProgramViews.h"

#include "app/AppState.h"
#include "platform/urlopener/DesktopUrlOpener.h"
#include "ui/main/ImageWindow.h"
#include "ui/ring/CursorRingWindow.h"
#include "ui/ring/PeripheralGlowView.h"
#include "ui/settings/SettingsView.h"
#include "ui/team/MiniWindow.h"
#include "ui/tray/CheckForUpdates.h"
#include "ui/tray/TrayIcon.h"

namespace pondra {

std::unique_ptr<CheckForUpdatesViewModel> makeUpdater()
{
    return std::make_unique<CheckForUpdatesViewModel>();
}

std::unique_ptr<QWidget> makeMainWindow(AppState& state, CheckForUpdatesViewModel& updater)
{
    // Every path that opens the settings goes through the registry, which
    // makes the window on first use.
    installSettingsWindow(state);
    auto window = std::make_unique<ImageWindow>(state);
    auto* command = new CheckForUpdatesView(updater, std::make_shared<DesktopUrlOpener>(), window.get());
    window->setUpdateAction(command->action());
    return window;
}

std::unique_ptr<QObject> makeTray(AppState& state)
{
    return std::make_unique<TrayIcon>(state);
}

std::unique_ptr<QWidget> makeTeamWindow(AppState& state)
{
    return std::make_unique<MiniWindow>(state);
}

std::unique_ptr<RingGlow> makeGlowWindow(AppState&, QScreen&)
{
    // The glow finds the primary screen afresh at every showing.
    return std::make_unique<WindowGlow<PeripheralGlowWindow>>(std::make_unique<PeripheralGlowWindow>());
}

std::unique_ptr<RingBubble> makeCursorRing(AppState& state)
{
    return std::make_unique<OverlayBubble<CursorRingWindow>>(
        std::make_unique<CursorRingWindow>(state.scheduler()));
}

} // namespace pondra
