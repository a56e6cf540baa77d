#pragma once

// The real program, started as a process on a private X display and observed
// only from outside: its windows through the X server, its log on standard
// error, its exit code, and what the local team server sees.
#include "TeamServerProcess.h"
#include "TestProcesses.h"
#include "TrayPanel.h"
#include "X11Probe.h"
#include "XvfbServer.h"

#include <QImage>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

namespace pondra::test {

/// One top-level window as the X server knows it.
struct WindowInfo
{
    QString id;
    /// _NET_WM_NAME (what a task bar shows).
    QString name;
    QString role;
    /// _NET_WM_STATE atoms, e.g. "_NET_WM_STATE_ABOVE".
    QStringList states;
    QRect geometry;
};

/**
 * A screen as a desktop gives the program: Xvfb (1280×1024) with a
 * compositing manager, and no window manager, so windows stay exactly where
 * the program puts them.
 */
class Desktop final
{
public:
    static constexpr QSize screenSize{1280, 1024};

    bool start();
    QString display() const { return m_x.display(); }

    /// Runs an X client on this display; its standard output, or none when it fails.
    std::optional<QString> run(const QString& program, const QStringList& arguments) const;
    /// The mapped top-level windows of a process.
    QList<WindowInfo> windowsOf(qint64 pid) const;
    /// The top-level windows, from the bottom of the stack to the top.
    QStringList stackingOrder() const;
    /// Whether window `upper` is stacked above window `lower`.
    bool isAbove(const QString& upper, const QString& lower) const;
    bool raise(const QString& windowId) const;
    bool focus(const QString& windowId) const;
    /// Types keys (xdotool names, e.g. "Return") into the focused window.
    bool key(const QString& keys) const;
    /// Types text into the focused window.
    bool type(const QString& text) const;
    bool move(const QString& windowId, const QPoint& topLeft) const;
    /// Moves the pointer there, as a user's mouse does.
    bool pointerTo(const QPoint& position) const;
    /// Moves the pointer there and clicks the left button.
    bool click(const QPoint& position) const;
    /// What the screen shows there, blended by the compositing manager (see X11Probe::grab).
    QImage grab(const QRect& area) const;
    QImage grabScreen() const;

private:
    XvfbServer m_x;
    ManagedProcess m_compositor;
    std::unique_ptr<X11Probe> m_probe;
};

/**
 * One user's login: their own home and XDG folders, session bus with a
 * notification server, system bus with a logind that knows their session,
 * and a folder of photos serving as the camera. Copies of the program
 * started on the same session share the settings file.
 */
class UserSession final
{
public:
    bool start();
    /// Adds a desktop panel's tray host to the session; do it before a start.
    bool startTrayHost();
    /// The panel's view of the tray, on this session's bus.
    TrayPanel trayPanel() const { return TrayPanel(m_sessionBus.connection()); }
    /// Locks the screen as logind does: the session's Lock signal, then its LockedHint.
    bool lockScreen();
    QString home() const { return m_dir.path(); }
    QString settingsFile() const;
    /// Writes a setting as the program stores it; do it before a start.
    void setSetting(const QString& key, const QString& value);
    std::optional<QString> setting(const QString& key) const;
    /// Points the program at the local team server, as user `name` of `team`.
    void joinTeam(const TeamServerProcess& server, const QString& name, const QString& team);
    QProcessEnvironment environment(const Desktop& desktop) const;

    PrivateBus& systemBus() { return m_systemBus; }
    PrivateBus& sessionBus() { return m_sessionBus; }

private:
    QTemporaryDir m_dir;
    PrivateBus m_systemBus;
    PrivateBus m_sessionBus;
    DBusMockProcess m_logind;
    DBusMockProcess m_notifications;
    TrayHost m_trayHost;
};

/// The installed-alike program (the build's `pondra`) as one process.
class PondraProcess final
{
public:
    PondraProcess(const Desktop& desktop, UserSession& session) : m_desktop(desktop), m_session(session) {}
    ~PondraProcess();

    /// Another build of the program, e.g. an installed one.
    void setProgram(const QString& path) { m_program = path; }
    bool start();
    qint64 pid() const;
    bool isRunning() const;

    /// Waits until a mapped window of this process matches; none on time-out.
    std::optional<WindowInfo> waitForWindow(const std::function<bool(const WindowInfo&)>& matches,
                                            int timeoutMs = 20'000) const;
    /// The main window: titled "Pondra", with no window role.
    std::optional<WindowInfo> waitForMainWindow(int timeoutMs = 20'000) const;
    std::optional<WindowInfo> waitForWindowWithRole(const QString& role, int timeoutMs = 20'000) const;
    std::optional<WindowInfo> waitForWindowNamed(const QString& name, int timeoutMs = 20'000) const;

    /// Sends the signal (SIGTERM unless told) and waits; the exit code, or
    /// none when it crashed or hung.
    std::optional<int> terminate(int signal = 0, int timeoutMs = 20'000);
    /// Waits for the process to end by itself; the exit code, or none.
    std::optional<int> waitForExit(int timeoutMs = 20'000);
    /// Everything it wrote on standard error so far.
    QString errorOutput() const;
    /// Lines of Qt's complaints about threads, timers or objects torn down while in use.
    QStringList teardownWarnings() const;

private:
    std::optional<int> exitCode() const;

    const Desktop& m_desktop;
    UserSession& m_session;
    QString m_program = QStringLiteral(PONDRA_PROGRAM_PATH);
    ManagedProcess m_process;
    qint64 m_lastPid = 0;
    mutable QString m_stderr;
};

} // namespace pondra::test
