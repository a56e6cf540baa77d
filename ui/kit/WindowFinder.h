#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QAction;
class QWidget;

namespace pondra {

class SettingsStore;

/// Identifiers of our windows: a window's identifier is its object name (also
/// its X11 `WM_WINDOW_ROLE`). The main window has none and is the only one
/// titled "Pondra".
struct WindowIdentifiers final
{
    WindowIdentifiers() = delete;
    static const QString teamWindow; ///< "PondraTeamWindow"
    static const QString glowWindow; ///< "PondraGlowWindow"
    static const QString cursorRing; ///< "PondraCursorRing"
};

/// The title of the main window, and of no other window.
inline constexpr char mainWindowTitle[] = "Pondra";
/// The stored choice to keep the team window above other windows.
inline constexpr char keepTeamWindowOnTopKey[] = "keepTeamWindowOnTop";

/**
 * Our top-level windows in the order they were registered (Qt's own list of
 * top-level widgets has no order), and the acts that several windows and
 * menus share: showing the main and team windows, the team window's level,
 * opening the settings, and the "Settings..." and "Quit Pondra" actions.
 * One per application, made on first use; main thread only.
 */
class WindowRegistry final : public QObject
{
    Q_OBJECT
public:
    using SettingsWindowFactory = std::function<QWidget*()>;

    static WindowRegistry& instance();

    /// Every top-level window of ours registers itself once, when it is made;
    /// it leaves the list when it is destroyed. Hidden windows stay listed.
    void add(QWidget* window);
    /// The registered windows that still exist, in registration order.
    QList<QWidget*> windows() const;

    /// How the settings window is made, on its first opening; the registry
    /// owns what it makes.
    void setSettingsWindowFactory(SettingsWindowFactory factory);
    /// Makes the settings window on first use (one instance), shows it,
    /// raises and activates it. Without a factory, nothing.
    void openSettings();
    /// The settings window once made, else null.
    QWidget* settingsWindow() const { return m_settingsWindow; }

    /// "Settings..." (Ctrl+,): opens the settings. Shared by the main window's
    /// "Pondra" menu and the tray menu. Like the application menu they stand
    /// for, both shortcuts work in every window of the program while the main
    /// window or the settings window is shown.
    QAction* settingsAction();
    /// "Quit Pondra" (Ctrl+Q): quits the application cleanly.
    QAction* quitAction();

private:
    explicit WindowRegistry(QObject* parent);
    ~WindowRegistry() override;

    QList<QPointer<QWidget>> m_windows;
    SettingsWindowFactory m_settingsFactory;
    QPointer<QWidget> m_settingsWindow;
    QAction* m_settingsAction = nullptr;
    QAction* m_quitAction = nullptr;
};

/// Finds our windows in the registry, afresh at every call. A window that is
/// not found is no error: the operation does nothing.
namespace WindowFinder {

/// The first window titled exactly "Pondra" whose identifier is not the team
/// window's (a window with no identifier passes); hidden windows count.
QWidget* findMainWindow();
/// The first window whose identifier is the team window's.
QWidget* findTeamWindow();
/// Shows the main window (also after it was closed), raises and activates it.
void showMainWindow();
/// Shows the team window (also after it was closed) and raises it, without
/// activating it or changing the focused window.
void showTeamWindow();
/// Floats the team window above normal windows, or puts it back at the normal level.
void setTeamWindowOnTop(bool onTop);

} // namespace WindowFinder

/// Sets a window's stays-on-top level. On a shown window this goes through
/// its native window: changing the widget's flags would unmap and remap it.
void setWindowStaysOnTop(QWidget& window, bool onTop);

/// The stored choice; an absent key reads false.
bool isTeamWindowKeptOnTop(const SettingsStore& store);
/// Stores the choice and applies it to the team window at once.
void setKeepTeamWindowOnTop(SettingsStore& store, bool onTop);

} // namespace pondra
