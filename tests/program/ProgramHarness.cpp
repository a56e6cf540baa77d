#include "ProgramHarness.h"

#include "TestEnvironment.h"
#include "platform/core/SettingsStore.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace pondra::test {

namespace {

/// What xprop prints for a text property, without the quotes; empty when absent.
QString textProperty(const QString& xprop, const QString& name)
{
    const QRegularExpression line(
        QStringLiteral("^%1\\([A-Z0-9_]+\\) = \"(.*)\"$").arg(QRegularExpression::escape(name)),
        QRegularExpression::MultilineOption);
    return line.match(xprop).captured(1);
}

QStringList atomListProperty(const QString& xprop, const QString& name)
{
    const QRegularExpression line(
        QStringLiteral("^%1\\(ATOM\\) = (.*)$").arg(QRegularExpression::escape(name)),
        QRegularExpression::MultilineOption);
    const QString atoms = line.match(xprop).captured(1);
    QStringList out;
    for (const QString& atom : atoms.split(QLatin1Char(','), Qt::SkipEmptyParts))
        out << atom.trimmed();
    return out;
}

} // namespace

bool Desktop::start()
{
    if (!m_x.start())
        return false;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_x.display());
    if (!m_compositor.start(QStringLiteral("xcompmgr"), {}, env))
        return false;
    // xcompmgr quits at once when it cannot take the screen; give it that moment.
    TeamServerProcess::pumpUntil([] { return false; }, 300);
    m_probe = std::make_unique<X11Probe>(m_x.display());
    return m_compositor.isRunning() && m_probe->isConnected();
}

std::optional<QString> Desktop::run(const QString& program, const QStringList& arguments) const
{
    QProcess client;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), m_x.display());
    client.setProcessEnvironment(env);
    client.start(program, arguments);
    if (!client.waitForFinished(10'000) || client.exitStatus() != QProcess::NormalExit ||
        client.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(client.readAllStandardOutput());
}

QList<WindowInfo> Desktop::windowsOf(qint64 pid) const
{
    QList<WindowInfo> windows;
    const auto ids =
        run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--pid"), QString::number(pid)});
    if (!ids)
        return windows;
    for (const QString& id : ids->split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const auto xprop =
            run(QStringLiteral("xprop"), {QStringLiteral("-id"), id, QStringLiteral("_NET_WM_NAME"),
                                          QStringLiteral("WM_WINDOW_ROLE"), QStringLiteral("_NET_WM_STATE")});
        const auto shell = run(QStringLiteral("xdotool"),
                               {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id});
        if (!xprop || !shell)
            continue; // gone meanwhile
        QHash<QString, int> values;
        for (const QString& line : shell->split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            values.insert(line.left(eq), line.mid(eq + 1).toInt());
        }
        windows.append(
            {id.trimmed(), textProperty(*xprop, QStringLiteral("_NET_WM_NAME")),
             textProperty(*xprop, QStringLiteral("WM_WINDOW_ROLE")),
             atomListProperty(*xprop, QStringLiteral("_NET_WM_STATE")),
             QRect(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
                   values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT")))});
    }
    return windows;
}

QStringList Desktop::stackingOrder() const
{
    // xwininfo lists the root's children from the top of the stack down.
    QStringList ids;
    static const QRegularExpression child(QStringLiteral("^\\s+0x([0-9a-f]+) "),
                                          QRegularExpression::MultilineOption);
    const QString tree =
        run(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-children")})
            .value_or(QString());
    for (auto it = child.globalMatch(tree); it.hasNext();)
        ids.prepend(QString::number(it.next().captured(1).toULongLong(nullptr, 16)));
    return ids;
}

bool Desktop::isAbove(const QString& upper, const QString& lower) const
{
    const QStringList order = stackingOrder();
    const qsizetype u = order.indexOf(upper);
    const qsizetype l = order.indexOf(lower);
    return u >= 0 && l >= 0 && u > l;
}

bool Desktop::raise(const QString& windowId) const
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("windowraise"), windowId}).has_value();
}

bool Desktop::focus(const QString& windowId) const
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), windowId})
        .has_value();
}

bool Desktop::key(const QString& keys) const
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}).has_value();
}

bool Desktop::type(const QString& text) const
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("type"), text}).has_value();
}

bool Desktop::move(const QString& windowId, const QPoint& topLeft) const
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("windowmove"), windowId,
                                           QString::number(topLeft.x()), QString::number(topLeft.y())})
        .has_value();
}

bool Desktop::pointerTo(const QPoint& position) const
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--sync"),
                                           QString::number(position.x()), QString::number(position.y())})
        .has_value();
}

bool Desktop::click(const QPoint& position) const
{
    return pointerTo(position) &&
           run(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("1")}).has_value();
}

QImage Desktop::grab(const QRect& area) const
{
    return m_probe ? m_probe->grab(area) : QImage();
}

QImage Desktop::grabScreen() const
{
    return grab(QRect(QPoint(0, 0), screenSize));
}

bool UserSession::start()
{
    if (!m_dir.isValid())
        return false;
    for (const char* folder : {"config", "data", "cache", "runtime", "camera"})
        QDir(m_dir.path()).mkpath(QLatin1String(folder));
    QFile::setPermissions(m_dir.path() + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!QFile::copy(testDataPath(QStringLiteral("grace_hopper.jpg")),
                     m_dir.path() + QStringLiteral("/camera/1.jpg")))
        return false;
    if (!m_systemBus.start() || !m_sessionBus.start())
        return false;
    if (!m_logind.start(m_systemBus, true, QStringLiteral("logind")) ||
        !m_notifications.start(m_sessionBus, false, QStringLiteral("notification_daemon")))
        return false;
    if (!m_systemBus.waitForService(QStringLiteral("org.freedesktop.login1")) ||
        !m_sessionBus.waitForService(QStringLiteral("org.freedesktop.Notifications")))
        return false;
    // The session the program runs in, as logind would list it.
    QDBusMessage add = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("AddSession"));
    add.setArguments(
        {QStringLiteral("c1"), QStringLiteral("seat0"), quint32(::getuid()), QStringLiteral("pondra"), true});
    return m_systemBus.connection().call(add).type() == QDBusMessage::ReplyMessage;
}

bool UserSession::startTrayHost()
{
    return m_trayHost.start(m_sessionBus);
}

bool UserSession::lockScreen()
{
    const QString login1 = QStringLiteral("org.freedesktop.login1");
    const QString session = QStringLiteral("/org/freedesktop/login1/session/c1");
    const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
    QDBusMessage lock =
        QDBusMessage::createMethodCall(login1, session, sessionInterface, QStringLiteral("Lock"));
    QDBusMessage hint =
        QDBusMessage::createMethodCall(login1, session, sessionInterface, QStringLiteral("SetLockedHint"));
    hint.setArguments({true});
    const QDBusConnection bus = m_systemBus.connection();
    return bus.call(lock).type() == QDBusMessage::ReplyMessage &&
           bus.call(hint).type() == QDBusMessage::ReplyMessage;
}

QString UserSession::settingsFile() const
{
    return m_dir.path() + QStringLiteral("/config/Pondra/Pondra.conf");
}

void UserSession::setSetting(const QString& key, const QString& value)
{
    SettingsStore(settingsFile()).setText(key, value);
}

std::optional<QString> UserSession::setting(const QString& key) const
{
    return SettingsStore(settingsFile()).text(key);
}

void UserSession::joinTeam(const TeamServerProcess& server, const QString& name, const QString& team)
{
    setSetting(QStringLiteral("serverBaseURL"), server.baseUrl());
    setSetting(QStringLiteral("userName"), name);
    setSetting(QStringLiteral("teamName"), team);
}

QProcessEnvironment UserSession::environment(const Desktop& desktop) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The program picks its platform itself, as it does on a desktop.
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("PONDRA_RESOURCE_DIR"));
    env.insert(QStringLiteral("DISPLAY"), desktop.display());
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.path() + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_dir.path() + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path() + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("XDG_SESSION_ID"), QStringLiteral("c1"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_sessionBus.address());
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), m_systemBus.address());
    // No sound server: the program must run without one.
    env.insert(QStringLiteral("PULSE_SERVER"), m_dir.path() + QStringLiteral("/runtime/no-pulse"));
    env.insert(QStringLiteral("PONDRA_FILE_CAMERA_DIR"), m_dir.path() + QStringLiteral("/camera"));
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("1"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    return env;
}

PondraProcess::~PondraProcess()
{
    // A failed check is easier to read beside what the program logged.
    if (QTest::currentTestFailed() || qEnvironmentVariableIsSet("PONDRA_E2E_LOG"))
        qInfo().noquote() << "Log of" << m_program << "(pid" << m_lastPid << "):\n" << errorOutput();
    m_process.stop();
}

bool PondraProcess::start()
{
    m_stderr.clear();
    if (!m_process.start(m_program, {}, m_session.environment(m_desktop)))
        return false;
    m_lastPid = pid();
    return true;
}

qint64 PondraProcess::pid() const
{
    return m_process.process() ? m_process.process()->processId() : 0;
}

bool PondraProcess::isRunning() const
{
    return m_process.isRunning();
}

std::optional<WindowInfo> PondraProcess::waitForWindow(const std::function<bool(const WindowInfo&)>& matches,
                                                       int timeoutMs) const
{
    std::optional<WindowInfo> found;
    TeamServerProcess::pumpUntil(
        [&] {
            if (!isRunning())
                return true;
            for (const WindowInfo& window : m_desktop.windowsOf(pid())) {
                if (matches(window)) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

std::optional<WindowInfo> PondraProcess::waitForMainWindow(int timeoutMs) const
{
    return waitForWindow(
        [](const WindowInfo& w) { return w.name == QLatin1String("Pondra") && w.role.isEmpty(); }, timeoutMs);
}

std::optional<WindowInfo> PondraProcess::waitForWindowWithRole(const QString& role, int timeoutMs) const
{
    return waitForWindow([&role](const WindowInfo& w) { return w.role == role; }, timeoutMs);
}

std::optional<WindowInfo> PondraProcess::waitForWindowNamed(const QString& name, int timeoutMs) const
{
    return waitForWindow([&name](const WindowInfo& w) { return w.name == name; }, timeoutMs);
}

std::optional<int> PondraProcess::terminate(int signal, int timeoutMs)
{
    if (!isRunning())
        return exitCode();
    ::kill(pid_t(pid()), signal ? signal : SIGTERM);
    return waitForExit(timeoutMs);
}

std::optional<int> PondraProcess::waitForExit(int timeoutMs)
{
    QProcess* process = m_process.process();
    if (!process)
        return std::nullopt;
    TeamServerProcess::pumpUntil([&] { return process->state() == QProcess::NotRunning; }, timeoutMs);
    return exitCode();
}

std::optional<int> PondraProcess::exitCode() const
{
    QProcess* process = m_process.process();
    if (!process || process->state() != QProcess::NotRunning || process->exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return process->exitCode();
}

QString PondraProcess::errorOutput() const
{
    if (QProcess* process = m_process.process())
        m_stderr += QString::fromUtf8(process->readAllStandardError());
    return m_stderr;
}

QStringList PondraProcess::teardownWarnings() const
{
    static const QRegularExpression complaint(QStringLiteral(
        "QThread|QObject::|QBasicTimer|QSocketNotifier|QTimer|[Dd]estroyed while|still running|"
        "Timers cannot|QWidget: Must construct"));
    QStringList lines;
    for (const QString& line : errorOutput().split(QLatin1Char('\n'))) {
        if (complaint.match(line).hasMatch())
            lines << line;
    }
    return lines;
}

} // namespace pondra::test
