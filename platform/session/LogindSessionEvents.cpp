#include "platform/session/LogindSessionEvents.h"

#include "platform/core/Log.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <memory>

#include <unistd.h>

namespace pondra {

namespace {
const QString login1 = QStringLiteral("org.freedesktop.login1");
const QString managerPath = QStringLiteral("/org/freedesktop/login1");
const QString managerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString userInterface = QStringLiteral("org.freedesktop.login1.User");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString freedesktopScreenSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString gnomeScreenSaver = QStringLiteral("org.gnome.ScreenSaver");

std::optional<QString> objectPathOf(const QDBusMessage& reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QVariant v = reply.arguments().constFirst();
    if (!v.canConvert<QDBusObjectPath>())
        return std::nullopt;
    const QString path = v.value<QDBusObjectPath>().path();
    if (path.isEmpty() || path == QLatin1String("/"))
        return std::nullopt;
    return path;
}

QString errorText(const QDBusMessage& reply)
{
    return reply.type() == QDBusMessage::ErrorMessage ? reply.errorMessage()
                                                      : QStringLiteral("unexpected reply");
}
} // namespace

SessionIdentity SessionIdentity::ofThisProcess()
{
    return {qEnvironmentVariable("XDG_SESSION_ID"), quint32(::getpid()), quint32(::getuid())};
}

LogindSessionEvents::LogindSessionEvents(QDBusConnection systemBus, QDBusConnection sessionBus,
                                         SessionIdentity identity, const Clock& clock, QObject* parent)
    : SessionEventSource(parent), m_system(std::move(systemBus)), m_session(std::move(sessionBus)),
      m_identity(std::move(identity)), m_clock(clock)
{
    if (m_session.isConnected()) {
        // Any sender and any path: KDE serves the freedesktop interface on
        // /ScreenSaver as well as on /org/freedesktop/ScreenSaver.
        m_session.connect({}, {}, freedesktopScreenSaver, QStringLiteral("ActiveChanged"), this,
                          SLOT(onFreedesktopActiveChanged(bool)));
        m_session.connect({}, {}, gnomeScreenSaver, QStringLiteral("ActiveChanged"), this,
                          SLOT(onGnomeActiveChanged(bool)));
        checkScreenSavers();
    } else {
        logInfo(lcApp, "No session bus: screen lock is not seen from the screensaver");
    }

    if (!m_system.isConnected()) {
        logInfo(lcApp, "No system bus: screen lock and wake are not seen from logind");
        m_authority = Authority::ScreenSavers;
        return;
    }
    m_system.connect(login1, managerPath, managerInterface, QStringLiteral("PrepareForSleep"), this,
                     SLOT(onPrepareForSleep(bool)));
    if (!m_identity.sessionId.isEmpty())
        findSessionById();
    else
        findSessionByPid();
}

void LogindSessionEvents::callAsync(QDBusConnection& bus, const QDBusMessage& call,
                                    std::function<void(const QDBusMessage&)> done)
{
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [done = std::move(done)](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                done(w->reply());
            });
}

void LogindSessionEvents::callManager(const QString& method, const QVariantList& arguments,
                                      std::function<void(const QDBusMessage&)> done)
{
    QDBusMessage call = QDBusMessage::createMethodCall(login1, managerPath, managerInterface, method);
    call.setArguments(arguments);
    callAsync(m_system, call, std::move(done));
}

// Programs started in a systemd user scope (from a launcher, or by the user
// service manager) often have no session of their own, so the lookup falls
// back from our session id to our process to the user's display session.
void LogindSessionEvents::findSessionById()
{
    callManager(QStringLiteral("GetSession"), {m_identity.sessionId}, [this](const QDBusMessage& reply) {
        if (const auto path = objectPathOf(reply))
            watchSession(*path);
        else
            findSessionByPid();
    });
}

void LogindSessionEvents::findSessionByPid()
{
    callManager(QStringLiteral("GetSessionByPID"), {m_identity.pid}, [this](const QDBusMessage& reply) {
        if (const auto path = objectPathOf(reply))
            watchSession(*path);
        else
            findSessionOfUser();
    });
}

void LogindSessionEvents::findSessionOfUser()
{
    callManager(QStringLiteral("GetUser"), {m_identity.uid}, [this](const QDBusMessage& reply) {
        if (const auto path = objectPathOf(reply))
            readUserDisplay(*path);
        else
            noSession(errorText(reply));
    });
}

void LogindSessionEvents::readUserDisplay(const QString& userPath)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(login1, userPath, propertiesInterface, QStringLiteral("Get"));
    call.setArguments({userInterface, QStringLiteral("Display")});
    callAsync(m_system, call, [this](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return noSession(errorText(reply));
        // Display is a (so) structure: session id and session path.
        const QVariant inner = reply.arguments().constFirst().value<QDBusVariant>().variant();
        QString id;
        QDBusObjectPath path;
        if (inner.canConvert<QDBusArgument>()) {
            const QDBusArgument arg = inner.value<QDBusArgument>();
            if (arg.currentSignature() == QLatin1String("(so)")) {
                arg.beginStructure();
                arg >> id >> path;
                arg.endStructure();
            }
        }
        if (path.path().isEmpty() || path.path() == QLatin1String("/"))
            return noSession(QStringLiteral("the user has no display session"));
        watchSession(path.path());
    });
}

void LogindSessionEvents::noSession(const QString& why)
{
    logInfo(lcApp, "No logind session found (%s): screen lock is not seen from logind", why);
    m_authority = Authority::ScreenSavers;
}

void LogindSessionEvents::watchSession(const QString& path)
{
    m_system.connect(login1, path, propertiesInterface, QStringLiteral("PropertiesChanged"), this,
                     SLOT(onSessionPropertiesChanged(QString, QVariantMap, QStringList)));
    m_system.connect(login1, path, sessionInterface, QStringLiteral("Lock"), this, SLOT(onSessionLock()));
    m_system.connect(login1, path, sessionInterface, QStringLiteral("Unlock"), this, SLOT(onSessionUnlock()));
    // The hint is read only to learn whether logind keeps one for us; its
    // value is not reported: a lock is an event, and a program started on a
    // locked screen starts out unlocked.
    QDBusMessage call =
        QDBusMessage::createMethodCall(login1, path, propertiesInterface, QStringLiteral("Get"));
    call.setArguments({sessionInterface, QStringLiteral("LockedHint")});
    callAsync(m_system, call, [this, path](const QDBusMessage& reply) {
        const bool hasHint =
            reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
            reply.arguments().constFirst().value<QDBusVariant>().variant().typeId() == QMetaType::Bool;
        if (hasHint) {
            m_authority = Authority::Logind;
        } else {
            logInfo(lcApp,
                    "The logind session keeps no lock state: screen lock is seen from the screensaver");
            m_authority = Authority::ScreenSavers;
        }
        m_sessionPath = path;
        Q_EMIT sessionFound(path);
    });
}

void LogindSessionEvents::checkScreenSavers()
{
    auto remaining = std::make_shared<int>(2);
    auto found = std::make_shared<bool>(false);
    for (const QString& name : {freedesktopScreenSaver, gnomeScreenSaver}) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
        call.setArguments({name});
        callAsync(m_session, call, [remaining, found](const QDBusMessage& reply) {
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                reply.arguments().constFirst().toBool())
                *found = true;
            if (--*remaining == 0 && !*found)
                logInfo(lcApp,
                        "No screensaver service on the session bus: screen lock is seen only from logind");
        });
    }
}

void LogindSessionEvents::readLockedHint()
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(login1, m_sessionPath, propertiesInterface, QStringLiteral("Get"));
    call.setArguments({sessionInterface, QStringLiteral("LockedHint")});
    callAsync(m_system, call, [this](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return;
        const QVariant value = reply.arguments().constFirst().value<QDBusVariant>().variant();
        if (value.typeId() == QMetaType::Bool)
            report(value.toBool() ? SessionReportMerger::Kind::Lock : SessionReportMerger::Kind::Unlock,
                   LockReporter::LockedHint);
    });
}

void LogindSessionEvents::onPrepareForSleep(bool starting)
{
    if (!starting)
        Q_EMIT systemWoke();
}

void LogindSessionEvents::onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                                     const QStringList& invalidated)
{
    if (interface != sessionInterface)
        return;
    const auto hint = changed.constFind(QStringLiteral("LockedHint"));
    if (hint != changed.constEnd()) {
        if (hint->typeId() == QMetaType::Bool)
            report(hint->toBool() ? SessionReportMerger::Kind::Lock : SessionReportMerger::Kind::Unlock,
                   LockReporter::LockedHint);
    } else if (invalidated.contains(QStringLiteral("LockedHint"))) {
        readLockedHint();
    }
}

void LogindSessionEvents::onSessionLock()
{
    report(SessionReportMerger::Kind::Lock, LockReporter::SessionSignal);
}

void LogindSessionEvents::onSessionUnlock()
{
    report(SessionReportMerger::Kind::Unlock, LockReporter::SessionSignal);
}

void LogindSessionEvents::onFreedesktopActiveChanged(bool active)
{
    onScreenSaverActiveChanged(active, LockReporter::FreedesktopScreenSaver);
}

void LogindSessionEvents::onGnomeActiveChanged(bool active)
{
    onScreenSaverActiveChanged(active, LockReporter::GnomeScreenSaver);
}

void LogindSessionEvents::onScreenSaverActiveChanged(bool active, LockReporter reporter)
{
    // Where logind keeps the lock state, "active" may be a blank screen only.
    if (m_authority != Authority::ScreenSavers)
        return;
    report(active ? SessionReportMerger::Kind::Lock : SessionReportMerger::Kind::Unlock, reporter);
}

void LogindSessionEvents::report(SessionReportMerger::Kind kind, LockReporter reporter)
{
    if (!m_merger.counts(kind, reporter, m_clock.monotonicMs()))
        return;
    if (kind == SessionReportMerger::Kind::Lock)
        Q_EMIT screenLocked();
    else
        Q_EMIT screenUnlocked();
}

} // namespace pondra
