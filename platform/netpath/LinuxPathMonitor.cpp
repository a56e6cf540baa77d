#include "platform/netpath/LinuxPathMonitor.h"

#include <QHostAddress>
#include <QNetworkInterface>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pondra {

namespace {
// Netlink catches every change at once; the slow look only covers a socket
// that could not be opened or a server address that changed in the meantime.
constexpr milliseconds pollPeriod{10'000};
} // namespace

LinuxPathMonitor::LinuxPathMonitor(ServerUrl serverUrl, Scheduler& scheduler, QObject* parent)
    : QObject(parent), m_serverUrl(std::move(serverUrl)), m_scheduler(scheduler)
{
}

LinuxPathMonitor::~LinuxPathMonitor()
{
    m_poll.cancel();
    m_notifier.reset();
    if (m_netlinkFd >= 0)
        ::close(m_netlinkFd);
}

void LinuxPathMonitor::start(Handler handler)
{
    m_handler = std::move(handler);
    if (m_netlinkFd < 0) {
        m_netlinkFd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
        if (m_netlinkFd >= 0) {
            sockaddr_nl address{};
            address.nl_family = AF_NETLINK;
            address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
            if (::bind(m_netlinkFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                ::close(m_netlinkFd);
                m_netlinkFd = -1;
            }
        }
        if (m_netlinkFd >= 0) {
            m_notifier = std::make_unique<QSocketNotifier>(m_netlinkFd, QSocketNotifier::Read);
            connect(m_notifier.get(), &QSocketNotifier::activated, this,
                    &LinuxPathMonitor::onNetlinkReadable);
        }
    }
    m_poll.cancel();
    m_poll = m_scheduler.every(pollPeriod, this, [this] { recheck(); });
    m_lastReported.reset();
    QMetaObject::invokeMethod(this, &LinuxPathMonitor::recheck, Qt::QueuedConnection);
}

void LinuxPathMonitor::onNetlinkReadable()
{
    char buffer[8192];
    while (::recv(m_netlinkFd, buffer, sizeof buffer, 0) > 0) {
    }
    recheck();
}

void LinuxPathMonitor::recheck()
{
    if (!m_handler)
        return;
    const auto server = m_serverUrl ? m_serverUrl() : std::nullopt;
    const NetworkPath path = evaluate(currentInterfaces(), server && isLoopbackHost(*server));
    if (m_lastReported && *m_lastReported == path)
        return;
    m_lastReported = path;
    m_handler(path);
}

NetworkPath LinuxPathMonitor::evaluate(const QList<InterfaceFact>& interfaces, bool serverOnLoopback)
{
    NetworkPath path;
    QStringList loopbackNames;
    for (const InterfaceFact& facts : interfaces) {
        if (!facts.isUp || !facts.isRunning || !facts.hasAddress)
            continue;
        (facts.isLoopback ? loopbackNames : path.interfaceNames).append(facts.name);
    }
    path.satisfied = !path.interfaceNames.isEmpty() || serverOnLoopback;
    if (path.interfaceNames.isEmpty() && serverOnLoopback)
        path.interfaceNames = loopbackNames;
    return path;
}

bool LinuxPathMonitor::isLoopbackHost(const QUrl& url)
{
    const QString host = url.host();
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
        host.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive))
        return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

QList<InterfaceFact> LinuxPathMonitor::currentInterfaces()
{
    QList<InterfaceFact> facts;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& interface : interfaces) {
        const auto flags = interface.flags();
        facts.append({interface.name(), flags.testFlag(QNetworkInterface::IsUp),
                      flags.testFlag(QNetworkInterface::IsRunning),
                      flags.testFlag(QNetworkInterface::IsLoopBack), !interface.addressEntries().isEmpty()});
    }
    return facts;
}

} // namespace pondra
