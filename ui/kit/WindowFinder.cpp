#include "ui/kit/WindowFinder.h"

#include "platform/core/SettingsStore.h"
#include "ui/kit/WindowSight.h"

#include <QAction>
#include <QCoreApplication>
#include <QWidget>
#include <QWindow>

namespace pondra {

const QString WindowIdentifiers::teamWindow = QStringLiteral("PondraTeamWindow");
const QString WindowIdentifiers::glowWindow = QStringLiteral("PondraGlowWindow");
const QString WindowIdentifiers::cursorRing = QStringLiteral("PondraCursorRing");

namespace {
QPointer<WindowRegistry> registryInstance;
}

WindowRegistry& WindowRegistry::instance()
{
    if (!registryInstance) {
        Q_ASSERT(QCoreApplication::instance());
        // Owned by the application, so the windows it made and its actions go
        // while the application still exists.
        registryInstance = new WindowRegistry(QCoreApplication::instance());
    }
    return *registryInstance;
}

WindowRegistry::WindowRegistry(QObject* parent) : QObject(parent) {}

WindowRegistry::~WindowRegistry()
{
    delete m_settingsWindow.data();
}

void WindowRegistry::add(QWidget* window)
{
    if (!window)
        return;
    m_windows.removeAll(nullptr);
    if (!m_windows.contains(window))
        m_windows.append(window);
}

QList<QWidget*> WindowRegistry::windows() const
{
    QList<QWidget*> out;
    for (const auto& w : m_windows) {
        if (w)
            out.append(w.data());
    }
    return out;
}

void WindowRegistry::setSettingsWindowFactory(SettingsWindowFactory factory)
{
    m_settingsFactory = std::move(factory);
}

void WindowRegistry::openSettings()
{
    if (!m_settingsWindow) {
        if (!m_settingsFactory)
            return;
        m_settingsWindow = m_settingsFactory();
        if (!m_settingsWindow)
            return;
        add(m_settingsWindow);
        // Its shortcuts stay live here when the main window, whose menu carries them, is closed.
        m_settingsWindow->addActions({settingsAction(), quitAction()});
    }
    QWidget* window = m_settingsWindow;
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

QAction* WindowRegistry::settingsAction()
{
    if (!m_settingsAction) {
        m_settingsAction = new QAction(tr("Settings..."), this);
        m_settingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
        m_settingsAction->setShortcutContext(Qt::ApplicationShortcut);
        m_settingsAction->setMenuRole(QAction::PreferencesRole);
        connect(m_settingsAction, &QAction::triggered, this, &WindowRegistry::openSettings);
    }
    return m_settingsAction;
}

QAction* WindowRegistry::quitAction()
{
    if (!m_quitAction) {
        m_quitAction = new QAction(tr("Quit Pondra"), this);
        m_quitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
        m_quitAction->setShortcutContext(Qt::ApplicationShortcut);
        m_quitAction->setMenuRole(QAction::QuitRole);
        connect(m_quitAction, &QAction::triggered, this, [] { QCoreApplication::quit(); });
    }
    return m_quitAction;
}

namespace WindowFinder {

QWidget* findMainWindow()
{
    for (QWidget* w : WindowRegistry::instance().windows()) {
        if (w->windowTitle() == QLatin1String(mainWindowTitle) &&
            w->objectName() != WindowIdentifiers::teamWindow)
            return w;
    }
    return nullptr;
}

QWidget* findTeamWindow()
{
    for (QWidget* w : WindowRegistry::instance().windows()) {
        if (w->objectName() == WindowIdentifiers::teamWindow)
            return w;
    }
    return nullptr;
}

void showMainWindow()
{
    QWidget* window = findMainWindow();
    if (!window)
        return;
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
}

void showTeamWindow()
{
    QWidget* window = findTeamWindow();
    if (!window)
        return;
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    window->show();
    window->raise();
    WindowSight::raised(window);
}

void setTeamWindowOnTop(bool onTop)
{
    if (QWidget* window = findTeamWindow())
        setWindowStaysOnTop(*window, onTop);
}

} // namespace WindowFinder

void setWindowStaysOnTop(QWidget& window, bool onTop)
{
    if (QWindow* handle = window.windowHandle()) {
        handle->setFlag(Qt::WindowStaysOnTopHint, onTop);
        // Keep the widget's own record in step without touching the window system.
        window.overrideWindowFlags(onTop ? window.windowFlags() | Qt::WindowStaysOnTopHint
                                         : window.windowFlags() & ~Qt::WindowStaysOnTopHint);
        // Qt wrote the window's event mask anew, and the window manager
        // brings a window kept on top to the front.
        WindowSight::raised(&window);
    } else {
        window.setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    }
}

bool isTeamWindowKeptOnTop(const SettingsStore& store)
{
    return store.flag(QLatin1String(keepTeamWindowOnTopKey)).value_or(false);
}

void setKeepTeamWindowOnTop(SettingsStore& store, bool onTop)
{
    store.setFlag(QLatin1String(keepTeamWindowOnTopKey), onTop);
    WindowFinder::setTeamWindowOnTop(onTop);
}

} // namespace pondra
