#pragma once

#include "platform/core/Scheduler.h"

#include <QObject>
#include <QString>

#include <functional>

namespace pondra {

class Notifier;
class SettingsStore;

/// What the timers read and do on the state that owns them.
struct AppTimerHooks
{
    std::function<qint64()> autoRetakeMinutes;
    /// The capture service's present/away mode.
    std::function<bool()> isPondraMode;
    /// Takes a new photo (not a manual capture).
    std::function<void()> capturePondra;
    std::function<QString()> userStatus;
    /// Assigns the status through its setter, with all its effects.
    std::function<void(const QString&)> setUserStatus;
    std::function<bool()> hasUserName;
    /// Asks the main window to open the settings.
    std::function<void()> openSettings;
};

/**
 * The clock-driven part of the application state: the auto-retake timer, the
 * status-staleness timer that clears yesterday's status after 03:00 local
 * time (and says so with a notification), and the settings prompt at start.
 * Everything runs on the scheduler, so its clock and time zone decide.
 */
class AppTimers final : public QObject
{
    Q_OBJECT
public:
    /// Every 300 s, besides at start and on wake.
    static constexpr milliseconds stalenessPeriod{300'000};
    static constexpr milliseconds settingsPromptDelay{500};

    AppTimers(Scheduler& scheduler, SettingsStore& store, Notifier& notifier, AppTimerHooks hooks,
              QObject* parent = nullptr);

    /// (Re)arms the auto-retake timer from the current minutes; none at 0 or below.
    void setupAutoRetakeTimer();
    /// Checks once at once, then every `stalenessPeriod`.
    void setupStatusStalenessTimer();
    /// Clears a status set before the most recent 03:00 local time.
    void checkStatusStaleness();
    /// Opens the settings shortly after start when no user name is set.
    void checkEmailOnStartup();

    bool isAutoRetakeArmed() const { return m_autoRetakeTimer.isActive(); }

private:
    void onAutoRetakeTick();

    Scheduler& m_scheduler;
    SettingsStore& m_store;
    Notifier& m_notifier;
    AppTimerHooks m_hooks;
    TimerHandle m_autoRetakeTimer;
    TimerHandle m_statusStalenessTimer;
};

} // namespace pondra
