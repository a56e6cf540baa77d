#include "program/ProgramViews.h"

#include "app/AppState.h"

#include <QMainWindow>

namespace pondra {

std::unique_ptr<QObject> makeUpdater()
{
    return nullptr; // STAND-IN: the feed checker goes here.
}

std::unique_ptr<QWidget> makeMainWindow(AppState&, QObject*)
{
    // STAND-IN: replace with the real main window and its "Pondra" menu.
    auto window = std::make_unique<QMainWindow>();
    window->setWindowTitle(QStringLiteral("Pondra"));
    window->resize(300, 400);
    return window;
}

std::unique_ptr<QObject> makeTray(AppState&, QWidget&, QObject*)
{
    return nullptr; // STAND-IN: the tray icon and menu go here.
}

std::unique_ptr<QWidget> makeTeamWindow(AppState&)
{
    // STAND-IN: replace with the real team window.
    auto window = std::make_unique<QWidget>(nullptr, Qt::FramelessWindowHint);
    window->resize(196, 120);
    return window;
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
