#include "program/ProgramViews.h"

#include "app/AppState.h"
#include "platform/urlopener/DesktopUrlOpener.h"
#include "ui/CheckForUpdates.h"
#include "ui/ImageWindow.h"
#include "ui/MiniWindow.h"
#include "ui/SettingsView.h"
#include "ui/TrayIcon.h"

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
    return nullptr; // STAND-IN: e.g. std::make_unique<WindowGlow<GlowWindow>>(...).
}

std::unique_ptr<RingBubble> makeCursorRing(AppState&)
{
    return nullptr; // STAND-IN: e.g. std::make_unique<OverlayBubble<CursorRingWindow>>(...).
}

} // namespace pondra
