#pragma once

#include "platform/core/Scheduler.h"
#include "platform/netpath/PathMonitor.h"

#include <QObject>
#include <QSocketNotifier>
#include <QUrl>

#include <memory>
#include <optional>

namespace pondra {

/// One network interface as the path rule sees it.
struct InterfaceFact
{
    QString name;
    bool isUp = false;
    /// Up and with a carrier (IFF_RUNNING): a cable pulled out leaves an
    /// interface up but not running.
    bool isRunning = false;
    bool isLoopback = false;
    bool hasAddress = false;
};

/**
 * PathMonitor over the kernel's interface table: changes arrive through a
 * netlink route socket (with a slow periodic look as a safety net), and the
 * interfaces come from QNetworkInterface.
 */
class LinuxPathMonitor final : public QObject, public PathMonitor
{
    Q_OBJECT
public:
    using ServerUrl = std::function<std::optional<QUrl>()>;

    explicit LinuxPathMonitor(ServerUrl serverUrl, Scheduler& scheduler = RealScheduler::instance(),
                              QObject* parent = nullptr);
    ~LinuxPathMonitor() override;

    void start(Handler handler) override;

    /// The path for these interfaces: unsatisfied only when no interface but
    /// loopback is running with an address, and never while the server is on
    /// loopback (so the program always works against a server on this machine).
    static NetworkPath evaluate(const QList<InterfaceFact>& interfaces, bool serverOnLoopback);
    static bool isLoopbackHost(const QUrl& url);
    static QList<InterfaceFact> currentInterfaces();

private:
    void onNetlinkReadable();
    void recheck();

    ServerUrl m_serverUrl;
    Scheduler& m_scheduler;
    Handler m_handler;
    std::optional<NetworkPath> m_lastReported;
    int m_netlinkFd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    TimerHandle m_poll;
};

} // namespace pondra
