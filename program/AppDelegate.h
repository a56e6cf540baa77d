#pragma once

#include "platform/core/Published.h"
#include "program/IncomingRingObserver.h"
#include "program/ProgramViews.h"
#include "program/TeamWindowFrame.h"

#include <QGuiApplication>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace pondra {

class AppState;

/// What the delegate builds its windows with; tests hand in their own.
struct AppDelegateOptions
{
    LaunchWindowFactories windows;
    /// The glow and the bubble can be placed on this platform.
    bool overlays = true;
    std::function<ScreenAreas()> screens = systemScreenAreas;
    /// The screen the glow goes on; none: no glow.
    std::function<QScreen*()> primaryScreen = &QGuiApplication::primaryScreen;
};

/**
 * What the program does once its main window is up: it routes the user's
 * answers to notifications to the ring manager and, on the next turn of the
 * main loop, builds the windows that live beside the main window (the team
 * window, the screen-edge glow, the cursor bubble), watches the incoming ring
 * to show and hide the last two, and asks for the settings when no user name
 * is set. Made once, by main(), after the single-instance check.
 */
class AppDelegate final : public QObject
{
    Q_OBJECT
public:
    using Options = AppDelegateOptions;

    AppDelegate(AppState& state, QWidget& mainWindow, Options options, QObject* parent = nullptr);
    /// Never happens in a normal run: the delegate lives until the process ends.
    ~AppDelegate() override;

    /// Routes notification answers and posts the launch step.
    void applicationDidFinishLaunching();
    /// Closes the windows it made, before the state they show goes away.
    void releaseWindows();

    /// Brings the main window to the front, showing it if it was closed.
    void bringMainWindowForward();

    QWidget* teamWindow() const { return m_teamWindow.get(); }
    RingGlow* glowWindow() const { return m_glowWindow.get(); }
    RingBubble* cursorRingWindow() const { return m_cursorRingWindow.get(); }

private:
    void launch();
    void createTeamWindow();
    void createPeripheralGlowWindow();
    void observeIncomingRing();
    void onBringForwardRequested();

    AppState& m_state;
    QPointer<QWidget> m_mainWindow;
    Options m_options;

    // Released in reverse order: the observer and the frame before the windows they watch.
    std::unique_ptr<QWidget> m_teamWindow;
    std::unique_ptr<RingGlow> m_glowWindow;
    std::unique_ptr<RingBubble> m_cursorRingWindow;
    std::unique_ptr<TeamWindowFrame> m_teamWindowFrame;
    std::unique_ptr<IncomingRingObserver> m_ringObserver;
};

} // namespace pondra
