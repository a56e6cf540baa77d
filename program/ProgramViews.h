#pragma once

// ============================================================================
// The views the program builds and shows, made in one place.
//
// Each function below is a hook: until the real window exists it makes a
// minimal stand-in (or nothing), and plugging the real one in means changing
// only the body here. Everything else of the program (order of start-up,
// placement, the ring observer, quitting) already works with whatever they
// return.
// ============================================================================

#include "program/IncomingRingObserver.h"

#include <QObject>
#include <QScreen>
#include <QWidget>

#include <functional>
#include <memory>

namespace pondra {

class AppState;

/// The software updater the "Check for Updates…" command asks; none yet.
std::unique_ptr<QObject> makeUpdater();

/// The main window, titled "Pondra" (no other window is), with its "Pondra" menu.
std::unique_ptr<QWidget> makeMainWindow(AppState& state, QObject* updater);

/// The tray icon and its menu; none yet. `mainWindow` is what its commands bring forward.
std::unique_ptr<QObject> makeTray(AppState& state, QWidget& mainWindow, QObject* updater);

/// The team window, 196 wide; the delegate places, identifies and shows it.
std::unique_ptr<QWidget> makeTeamWindow(AppState& state);

/// The screen-edge glow on `screen`, hidden; none yet.
std::unique_ptr<RingGlow> makeGlowWindow(AppState& state, QScreen& screen);

/// The bubble beside the pointer while someone is ringing, hidden; none yet.
std::unique_ptr<RingBubble> makeCursorRing(AppState& state);

/// The hooks the delegate's launch step calls; tests hand in their own.
struct LaunchWindowFactories
{
    std::function<std::unique_ptr<QWidget>(AppState&)> teamWindow = makeTeamWindow;
    std::function<std::unique_ptr<RingGlow>(AppState&, QScreen&)> glowWindow = makeGlowWindow;
    std::function<std::unique_ptr<RingBubble>(AppState&)> cursorRing = makeCursorRing;
};

} // namespace pondra
