#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace pondra::test {

/// A helper process that a test starts and that ends with the object:
/// terminated, then killed if it does not go within two seconds.
class ManagedProcess final
{
public:
    ManagedProcess() = default;
    ~ManagedProcess() { stop(); }
    ManagedProcess(const ManagedProcess&) = delete;
    ManagedProcess& operator=(const ManagedProcess&) = delete;

    bool start(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    void stop();
    bool isRunning() const { return m_process && m_process->state() != QProcess::NotRunning; }
    /// Waits for one line on standard output (without its line break); empty on time-out.
    QString readLine(int timeoutMs = 10'000);
    QProcess* process() const { return m_process.get(); }

private:
    std::unique_ptr<QProcess> m_process;
};

/**
 * A private dbus-daemon on a socket in a temporary folder. Use it as the
 * session bus or, through DBUS_SYSTEM_BUS_ADDRESS, as the system bus.
 */
class PrivateBus final
{
public:
    PrivateBus() = default;
    ~PrivateBus();
    bool start();
    QString address() const { return m_address; }
    /// A connection of our own to this bus (distinct name per bus).
    QDBusConnection connection() const;
    /// Waits until `service` has an owner on this bus.
    bool waitForService(const QString& service, int timeoutMs = 10'000) const;

private:
    QTemporaryDir m_dir;
    ManagedProcess m_daemon;
    QString m_address;
    QString m_connectionName;
};

/**
 * python3-dbusmock serving a template (e.g. "logind", "notification_daemon")
 * on a private bus. `systemBus` puts it on the system bus role (the address
 * given in DBUS_SYSTEM_BUS_ADDRESS).
 */
class DBusMockProcess final
{
public:
    bool start(const PrivateBus& bus, bool systemBus, const QString& templateName, const QString& parametersJson = {});
    ManagedProcess& process() { return m_process; }

private:
    ManagedProcess m_process;
};

} // namespace pondra::test
