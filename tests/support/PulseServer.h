#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace pondra::test {

/// Ends a client process (terminate, then kill) and deletes it.
struct StopAndDelete
{
    void operator()(QProcess* process) const;
};
using ClientProcess = std::unique_ptr<QProcess, StopAndDelete>;

/**
 * A private PulseAudio daemon in its own runtime folder, listening on a unix
 * socket there, with only the modules the test asks for. Clients reach it
 * through `address()` (give it to the code under test) or `environment()`
 * (PULSE_SERVER for pactl, pacat and parecord).
 */
class PulseServer final
{
public:
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    /// A null sink line for the start-up script, with the sink's description and device.bus.
    static QString nullSink(const QString& name, const QString& description, const QString& bus = {});

    /// Starts the daemon with the protocol module and then `scriptLines`; waits until it answers.
    bool start(const QStringList& scriptLines = {});
    /// Kills the daemon at once, like a crash.
    void kill();
    /// Starts it again with the same script on the same socket.
    bool restart();
    bool isRunning() const;

    QByteArray address() const;
    QProcessEnvironment environment() const;

    /// Runs pactl against this daemon; true when it exits with 0.
    bool pactl(const QStringList& arguments, QString* output = nullptr) const;
    /// A playing (`pacat`) or recording (`parecord`) stream of silence on `device`
    /// (empty: the default); ends when the returned process is destroyed.
    ClientProcess play(const QString& device = {}) const;
    ClientProcess record(const QString& device = {}) const;

private:
    ClientProcess startClient(const QString& program, QStringList arguments, bool feedSilence) const;

    QTemporaryDir m_dir;
    QStringList m_scriptLines;
    std::unique_ptr<QProcess> m_daemon;
};

} // namespace pondra::test
