#include "program/AppDelegate.h"

#include "app/AppState.h"
#include "app/NotificationSetup.h"
#include "platform/core/Log.h"

namespace pondra {

AppDelegate::AppDelegate(AppState& state, QWidget& mainWindow, Options options, QObject* parent)
    : QObject(parent), m_state(state), m_mainWindow(&mainWindow), m_options(std::move(options))
{
}

AppDelegate::~AppDelegate()
{
    logError(lcApp, "AppDelegate is being deallocated!");
    releaseWindows();
}

void AppDelegate::applicationDidFinishLaunching()
{
    routeNotificationResponses(m_state.notifier(), this, [this](const QString& identifier, bool accepted) {
        m_state.handleNotificationAction(identifier, accepted);
    });
    connect(&m_state.notifier(), &Notifier::bringForwardRequested, this,
            &AppDelegate::onBringForwardRequested);
    m_state.scheduler().post(this, [this] { launch(); });
}

void AppDelegate::launch()
{
    createTeamWindow();
    createPeripheralGlowWindow();
    if (m_options.overlays)
        m_cursorRingWindow = m_options.windows.cursorRing(m_state);
    observeIncomingRing();
    m_state.checkEmailOnStartup();
}

void AppDelegate::createTeamWindow()
{
    m_teamWindow = m_options.windows.teamWindow(m_state);
    if (!m_teamWindow)
        return;
    m_teamWindowFrame = std::make_unique<TeamWindowFrame>(*m_teamWindow, m_state.settingsStore(),
                                                          m_state.scheduler(), m_options.screens);
    m_teamWindowFrame->restore();
    m_teamWindowFrame->showWithoutFocus();
}

void AppDelegate::createPeripheralGlowWindow()
{
    if (!m_options.overlays)
        return;
    if (QScreen* screen = m_options.primaryScreen())
        m_glowWindow = m_options.windows.glowWindow(m_state, *screen);
    if (m_glowWindow)
        m_glowWindow->hideGlow();
}

void AppDelegate::observeIncomingRing()
{
    m_ringObserver = std::make_unique<IncomingRingObserver>(m_state.incomingRing, m_state.scheduler(),
                                                            m_glowWindow.get(), m_cursorRingWindow.get());
}

void AppDelegate::onBringForwardRequested()
{
    // An answer that brings the program forward raises the main window only
    // where the user left it open.
    if (m_mainWindow && m_mainWindow->isVisible()) {
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
    }
}

void AppDelegate::bringMainWindowForward()
{
    if (!m_mainWindow)
        return;
    if (m_mainWindow->isMinimized())
        m_mainWindow->showNormal();
    else
        m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
}

void AppDelegate::releaseWindows()
{
    m_ringObserver.reset();
    m_teamWindowFrame.reset();
    m_cursorRingWindow.reset();
    m_glowWindow.reset();
    m_teamWindow.reset();
}

} // namespace pondra
