#include "TestProcesses.h"

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QTest>
#include <QUuid>

namespace pondra::test {

bool ManagedProcess::start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    stop();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessEnvironment(environment);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->start(program, arguments);
    return m_process->waitForStarted(10'000);
}

void ManagedProcess::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(2'000)) {
            m_process->kill();
            m_process->waitForFinished(2'000);
        }
    }
    m_process.reset();
}

QString ManagedProcess::readLine(int timeoutMs)
{
    if (!m_process)
        return {};
    QDeadlineTimer deadline(timeoutMs);
    while (!m_process->canReadLine()) {
        if (deadline.hasExpired() || m_process->state() == QProcess::NotRunning)
            return {};
        m_process->waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
    }
    return QString::fromUtf8(m_process->readLine()).trimmed();
}

PrivateBus::~PrivateBus()
{
    if (!m_connectionName.isEmpty())
        QDBusConnection::disconnectFromBus(m_connectionName);
}

bool PrivateBus::start()
{
    if (!m_dir.isValid())
        return false;
    const QString socket = m_dir.path() + QStringLiteral("/bus");
    if (!m_daemon.start(QStringLiteral("dbus-daemon"),
                        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                         QStringLiteral("--print-address=1"), QStringLiteral("--address=unix:path=") + socket}))
        return false;
    m_address = m_daemon.readLine();
    if (m_address.isEmpty())
        return false;
    m_connectionName = QStringLiteral("pondra-test-bus-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    return QDBusConnection::connectToBus(m_address, m_connectionName).isConnected();
}

QDBusConnection PrivateBus::connection() const
{
    return QDBusConnection(m_connectionName);
}

bool PrivateBus::waitForService(const QString& service, int timeoutMs) const
{
    const QDBusConnection bus = connection();
    return QTest::qWaitFor([&] { return bus.interface() && bus.interface()->isServiceRegistered(service).value(); },
                           timeoutMs);
}

bool DBusMockProcess::start(const PrivateBus& bus, bool systemBus, const QString& templateName, const QString& parametersJson)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(systemBus ? QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS") : QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               bus.address());
    QStringList args{QStringLiteral("-m"), QStringLiteral("dbusmock")};
    if (systemBus)
        args << QStringLiteral("--system");
    args << QStringLiteral("--template") << templateName;
    if (!parametersJson.isEmpty())
        args << QStringLiteral("--parameters") << parametersJson;
    return m_process.start(QStringLiteral("/usr/bin/python3"), args, env);
}

} // namespace pondra::test
