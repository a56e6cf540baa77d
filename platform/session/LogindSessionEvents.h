#pragma once

#include "platform/core/Scheduler.h"
#include "platform/session/SessionEventSource.h"
#include "platform/session/SessionReportMerger.h"

#include <QDBusConnection>
#include <QStringList>
#include <QVariantMap>

class QDBusPendingCallWatcher;
class QDBusMessage;

namespace pondra {

/// Who we are to logind, for finding our login session.
struct SessionIdentity
{
    QString sessionId; // XDG_SESSION_ID, may be empty
    quint32 pid = 0;
    quint32 uid = 0;

    static SessionIdentity ofThisProcess();
};

/// Session events on Linux: logind's LockedHint of our session and its Lock
/// and Unlock signals, ActiveChanged of the freedesktop and GNOME screensavers,
/// and logind's PrepareForSleep(false) for wake. Every bus call is
/// asynchronous. A missing bus or service is logged once and its events are
/// simply never seen.
///
/// Logind decides on locks wherever it keeps a lock state for our session:
/// the screensavers also say "active" when the screen only blanks (auto-lock
/// off, or before the lock delay), which is not a lock. Their ActiveChanged
/// counts only where logind has nothing for the session.
class LogindSessionEvents final : public SessionEventSource
{
    Q_OBJECT
public:
    explicit LogindSessionEvents(QDBusConnection systemBus = QDBusConnection::systemBus(),
                                 QDBusConnection sessionBus = QDBusConnection::sessionBus(),
                                 SessionIdentity identity = SessionIdentity::ofThisProcess(),
                                 const Clock& clock = RealScheduler::instance(), QObject* parent = nullptr);

    /// The logind session being watched; empty until it has been found.
    QString sessionPath() const { return m_sessionPath; }
    /// Logind has no lock state for us (no session, or no LockedHint), so the
    /// screensavers' ActiveChanged counts. False while that is not yet known.
    bool screenSaversDecide() const { return m_authority == Authority::ScreenSavers; }

Q_SIGNALS:
    /// Our session was found and its signals are connected.
    void sessionFound(const QString& path);

private Q_SLOTS:
    // Slots by name: QtDBus connects bus signals through the meta-object.
    void onPrepareForSleep(bool starting);
    void onSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                    const QStringList& invalidated);
    void onSessionLock();
    void onSessionUnlock();
    void onFreedesktopActiveChanged(bool active);
    void onGnomeActiveChanged(bool active);

private:
    enum class Authority
    {
        Unknown,
        Logind,
        ScreenSavers
    };

    void findSessionById();
    void findSessionByPid();
    void findSessionOfUser();
    void readUserDisplay(const QString& userPath);
    void watchSession(const QString& path);
    void readLockedHint();
    void checkScreenSavers();
    void noSession(const QString& why);
    void onScreenSaverActiveChanged(bool active, LockReporter reporter);
    void report(SessionReportMerger::Kind kind, LockReporter reporter);
    /// Calls a logind manager method; `done` gets the reply, error or not.
    void callManager(const QString& method, const QVariantList& arguments,
                     std::function<void(const QDBusMessage&)> done);
    void callAsync(QDBusConnection& bus, const QDBusMessage& call,
                   std::function<void(const QDBusMessage&)> done);

    QDBusConnection m_system;
    QDBusConnection m_session;
    SessionIdentity m_identity;
    const Clock& m_clock;
    SessionReportMerger m_merger;
    QString m_sessionPath;
    Authority m_authority = Authority::Unknown;
};

} // namespace pondra
