#include "platform/idle/DBusIdleSource.h"

#include "platform/core/Log.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <array>

namespace pondra {

namespace {

struct IdleService
{
    const char* service;
    const char* path;
    const char* interface;
    const char* method;
};

// Both answer in milliseconds: Mutter's GetIdletime as a 64-bit count, and the
// freedesktop screensaver's GetSessionIdleTime (as KDE implements it, the
// desktop that serves it on Wayland) as a 32-bit count.
constexpr std::array<IdleService, 2> idleServices{{
    {"org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core", "org.gnome.Mutter.IdleMonitor",
     "GetIdletime"},
    {"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
     "GetSessionIdleTime"},
}};

constexpr int replyTimeoutMs = 1000;

} // namespace

DBusIdleSource::DBusIdleSource(QDBusConnection bus, QObject* parent) : QObject(parent), m_bus(std::move(bus))
{
    if (!m_bus.isConnected()) {
        logInfo(lcApp, "Idle time unavailable: no session bus");
        m_loggedFailure = true;
        return;
    }
    // Ask at once, so the first poll already has a reading.
    request();
}

std::optional<double> DBusIdleSource::latestIdleSeconds()
{
    if (!m_inFlight && m_bus.isConnected())
        request();
    return m_latest;
}

void DBusIdleSource::request()
{
    const IdleService& s = idleServices[m_service];
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QLatin1String(s.service), QLatin1String(s.path), QLatin1String(s.interface), QLatin1String(s.method));
    m_inFlight = true;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, replyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DBusIdleSource::onReply);
}

void DBusIdleSource::onReply(QDBusPendingCallWatcher* watcher)
{
    watcher->deleteLater();
    m_inFlight = false;
    const QDBusMessage reply = watcher->reply();
    bool ok = false;
    double ms = 0;
    if (reply.type() == QDBusMessage::ReplyMessage && reply.arguments().size() == 1) {
        const QVariant value = reply.arguments().constFirst();
        if (value.typeId() == QMetaType::ULongLong) {
            ms = double(value.toULongLong());
            ok = true;
        } else if (value.typeId() == QMetaType::UInt) {
            ms = double(value.toUInt());
            ok = true;
        }
    }
    if (ok) {
        m_latest = ms / 1000.0;
        m_failuresInRow = 0;
        return;
    }
    // Keep the previous reading and try the other service next time.
    m_service = (m_service + 1) % idleServices.size();
    if (++m_failuresInRow >= idleServices.size() && !m_loggedFailure) {
        m_loggedFailure = true;
        const QString why = reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage()
                                                                       : QStringLiteral("unexpected reply");
        logInfo(lcApp, "Idle time unavailable from the desktop: %s", why);
    }
}

} // namespace pondra
