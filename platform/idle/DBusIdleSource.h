#pragma once

#include "platform/idle/IdleSource.h"

#include <QDBusConnection>
#include <QObject>

class QDBusPendingCallWatcher;

namespace pondra {

/// Idle time on Wayland, where the X server sees only input sent to X clients:
/// GNOME's Mutter idle monitor, else the freedesktop screensaver service. Every
/// call is asynchronous; a reading arrives for the next poll.
class DBusIdleSource final : public QObject, public IdleSource
{
    Q_OBJECT
public:
    explicit DBusIdleSource(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    std::optional<double> latestIdleSeconds() override;

private:
    void request();
    void onReply(QDBusPendingCallWatcher* watcher);

    QDBusConnection m_bus;
    std::size_t m_service = 0; // index of the service asked next
    std::size_t m_failuresInRow = 0;
    bool m_inFlight = false;
    bool m_loggedFailure = false;
    std::optional<double> m_latest;
};

} // namespace pondra
