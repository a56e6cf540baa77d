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

#include <QCoreApplication>

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

std::unique_ptr<QMessageBox> makeSecondCopyAlert(SingleInstanceGuard::Turn turn)
{
    const QString message =
        QCoreApplication::translate("pondra::SingleInstanceGuard", "Pondra is already running");
    auto alert = std::make_unique<QMessageBox>(QMessageBox::Information, message, message, QMessageBox::Ok);
    // Nothing comes forward when the copy holding the lock does not answer
    // (it hangs, or the lock came from another host).
    alert->setInformativeText(
        turn == SingleInstanceGuard::Turn::otherCopySilent
            ? QCoreApplication::translate("pondra::SingleInstanceGuard",
                                          "Another copy of Pondra holds its lock but does not answer.")
            : QCoreApplication::translate("pondra::SingleInstanceGuard",
                                          "Another copy of Pondra is already open. Switching to it now."));
    // Above the other copy's window, which is coming forward at the same time.
    alert->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    return alert;
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
