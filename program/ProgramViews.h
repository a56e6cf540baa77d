#pragma once

// ============================================================================
// The views the program builds and shows, made in one place.
//
// Everything else of the program (order of start-up, placement, the ring
// observer, quitting) works with whatever these return, so tests can hand in
// their own.
// ============================================================================

#include "program/IncomingRingObserver.h"
#include "program/SingleInstance.h"

#include <QMessageBox>
#include <QObject>
#include <QScreen>
#include <QWidget>

#include <functional>
#include <memory>

namespace pondra {

class AppState;
class CheckForUpdatesViewModel;

/// The one software updater of the process, made before the windows.
std::unique_ptr<CheckForUpdatesViewModel> makeUpdater();

/// The main window, titled "Pondra" (no other window is), with its "Pondra"
/// menu: "Check for Updates…" first, then the settings and quit actions.
std::unique_ptr<QWidget> makeMainWindow(AppState& state, CheckForUpdatesViewModel& updater);

/// What a copy that finds another one holding the lock shows before it
/// ends: "Pondra is already running", and what became of its request to
/// bring that copy forward. Kept on top, above the other copy's window.
std::unique_ptr<QMessageBox> makeSecondCopyAlert(SingleInstanceGuard::Turn turn);

/// The tray icon and its menu.
std::unique_ptr<QObject> makeTray(AppState& state);

/// The team window, which sizes and identifies itself; the delegate places and shows it.
std::unique_ptr<QWidget> makeTeamWindow(AppState& state);

/// The screen-edge glow, hidden; it goes on the primary screen at each showing.
std::unique_ptr<RingGlow> makeGlowWindow(AppState& state, QScreen& screen);

/// The bubble beside the pointer while someone is ringing, hidden.
std::unique_ptr<RingBubble> makeCursorRing(AppState& state);

/// The hooks the delegate's launch step calls; tests hand in their own.
struct LaunchWindowFactories
{
    std::function<std::unique_ptr<QWidget>(AppState&)> teamWindow = makeTeamWindow;
    std::function<std::unique_ptr<RingGlow>(AppState&, QScreen&)> glowWindow = makeGlowWindow;
    std::function<std::unique_ptr<RingBubble>(AppState&)> cursorRing = makeCursorRing;
};

} // namespace pondra
