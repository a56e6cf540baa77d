#pragma once

#include "app/AppSettings.h"
#include "app/AppTimers.h"
#include "app/PresencePayload.h"
#include "capture/CameraCapture.h"
#include "net/NetworkClient.h"
#include "platform/core/Published.h"
#include "platform/core/Scheduler.h"
#include "platform/core/SettingsStore.h"
#include "platform/notify/Notifier.h"
#include "records/RemoteUser.h"
#include "records/Rings.h"
#include "records/ServerAddresses.h"
#include "rings/RingManager.h"
#include "sensing/AudioMonitor.h"
#include "sensing/IdleMonitor.h"
#include "sensing/MeetingMonitor.h"
#include "sensing/NowPlayingMonitor.h"
#include "sensing/SystemEventObserver.h"

#include <QObject>

#include <memory>
#include <optional>

namespace pondra {

class AudioDeviceSource;
class CameraBackend;
class FaceAnalyser;
class IdleSource;
class MeetingSignals;
class SessionEventSource;

/// What the application state is built on. Anything left empty is the real
/// Linux backend; tests hand in fakes and a virtual scheduler.
struct AppBackends
{
    Scheduler* scheduler = nullptr;
    std::shared_ptr<SettingsStore> settings;
    std::shared_ptr<Notifier> notifier;
    std::unique_ptr<IdleSource> idleSource;
    std::unique_ptr<CameraBackend> camera;
    std::shared_ptr<FaceAnalyser> faces;
    /// Empty: `$XDG_DATA_HOME/Pondra`.
    QString awayPhotoFolder;
    std::shared_ptr<AudioDeviceSource> audio;
    std::shared_ptr<MeetingSignals> meeting;
    /// Empty: "/usr/bin/perl" with the shipped helper script.
    QString nowPlayingInterpreter;
    std::optional<QString> nowPlayingScript;
    std::unique_ptr<SessionEventSource> sessionEvents;
    NetworkClientBackends network;
    RingBackends rings;
};

/**
 * The one application state: it owns every service and monitor, keeps the
 * user's settings, builds the presence record, runs the retake and status
 * timers and mirrors the services' values for the views. It is the only
 * object that wires the services together. Main thread only.
 */
class AppState final : public QObject
{
    Q_OBJECT
public:
    /// The process-wide state with the real backends, made on first use.
    static AppState& shared();

    explicit AppState(AppBackends backends = {}, QObject* parent = nullptr);
    ~AppState() override;

    // The services, in the order they are made.
    IdleMonitor& idleMonitor() { return *m_idleMonitor; }
    CameraCapture& cameraCapture() { return *m_cameraCapture; }
    AudioMonitor& audioMonitor() { return *m_audioMonitor; }
    NowPlayingMonitor& nowPlayingMonitor() { return *m_nowPlayingMonitor; }
    MeetingMonitor& meetingMonitor() { return *m_meetingMonitor; }
    RingManager& ringManager() { return *m_ringManager; }
    NetworkClient& networkClient() { return *m_networkClient; }
    SystemEventObserver& systemEventObserver() { return *m_systemEventObserver; }

    // Mirrors of the services' values, written only by the mirroring subscriptions.
    Owned<std::optional<QString>, AppState> waitingForResponse;
    Owned<std::optional<IncomingRing>, AppState> incomingRing;
    Owned<QList<RemoteUser>, AppState> remoteUsers;
    Owned<QStringList, AppState> availableTeams{QStringList{QStringLiteral("Default")}};
    Owned<bool, AppState> isConnected{false};
    Owned<bool, AppState> shouldOpenSettings{false};
    Owned<bool, AppState> isScreenLocked{false};

    // Settings: readable and observable here, assigned through the setters below.
    const QString& userId() const { return m_settings->userId(); }
    PublishedSetting<QString>& userName() { return m_settings->userName(); }
    PublishedSetting<QString>& teamName() { return m_settings->teamName(); }
    PublishedSetting<QString>& userEmail() { return m_settings->userEmail(); }
    PublishedSetting<QString>& serverBaseURL() { return m_settings->serverBaseURL(); }
    PublishedSetting<QString>& apiToken() { return m_settings->apiToken(); }
    PublishedSetting<QString>& userStatus() { return m_settings->userStatus(); }
    PublishedSetting<bool>& includeNowPlaying() { return m_settings->includeNowPlaying(); }
    PublishedSetting<qint64>& autoRetakeMinutes() { return m_settings->autoRetakeMinutes(); }
    void setUserName(const QString& value) { m_settings->setUserName(value); }
    void setTeamName(const QString& value) { m_settings->setTeamName(value); }
    void setUserEmail(const QString& value) { m_settings->setUserEmail(value); }
    void setServerBaseURL(const QString& value) { m_settings->setServerBaseURL(value); }
    void setApiToken(const QString& value) { m_settings->setApiToken(value); }
    void setUserStatus(const QString& value) { m_settings->setUserStatus(value); }
    void setIncludeNowPlaying(bool value) { m_settings->setIncludeNowPlaying(value); }
    void setAutoRetakeMinutes(qint64 value) { m_settings->setAutoRetakeMinutes(value); }

    // Addresses, computed afresh from the current settings at every read.
    QString normalizedBaseURL() const { return m_addresses.normalizedBaseURL(); }
    std::optional<QUrl> ringURL() const { return m_addresses.ringURL(); }
    std::optional<QUrl> ringResponseURL() const { return m_addresses.ringResponseURL(); }
    std::optional<QUrl> teamsURL() const { return m_addresses.teamsURL(); }

    /// The status sent while present: the status with the playing track appended.
    QString fullStatus() const;
    bool hasUserName() const { return m_settings->hasUserName(); }
    bool hasUserEmail() const { return m_settings->hasUserEmail(); }

    /// The record to upload now, or nothing when it is unchanged and not forced.
    UpdatePayload buildUpdatePayload(bool forceUpdate);

    // Forwarding to the services.
    void fetchTeams() { m_networkClient->fetchTeams(); }
    void sendWebSocketJoin() { m_networkClient->sendJoin(); }
    void acceptRing() { m_ringManager->acceptRing(); }
    // By value, as the ring manager takes them: a view passes the id of the
    // mirrored ring, which the dismissal itself clears.
    void dismissRing(QString ringId, bool accepted)
    {
        m_ringManager->dismissRing(std::move(ringId), accepted);
    }
    void handleNotificationAction(QString notificationId, bool accepted)
    {
        m_ringManager->handleNotificationAction(std::move(notificationId), accepted);
    }
    void sendRing(const QString& to) { m_ringManager->sendRing(to); }
    void sendUpdate(bool forceUpdate = false) { m_networkClient->sendUpdate(forceUpdate); }

    // Timers and the settings prompt.
    void setupAutoRetakeTimer() { m_timers->setupAutoRetakeTimer(); }
    void checkStatusStaleness() { m_timers->checkStatusStaleness(); }
    void checkEmailOnStartup() { m_timers->checkEmailOnStartup(); }
    void openSettings() { shouldOpenSettings.set(true); }
    /// The main window takes the settings request back before it opens them.
    void setShouldOpenSettings(bool value) { shouldOpenSettings.set(value); }

    Notifier& notifier() { return *m_notifier; }
    /// The scheduler every timer, fade and delay runs on (virtual in tests).
    Scheduler& scheduler() { return m_scheduler; }
    /// The settings store, for the few keys only the views keep.
    SettingsStore& settingsStore() { return *m_store; }

Q_SIGNALS:
    /// Any published value of the state was assigned (views redraw on it).
    void changed();

private:
    void onScreenLock();
    void onSystemWake();
    void subscribeToMonitors();
    void subscribeToServices();

    Scheduler& m_scheduler;
    std::shared_ptr<SettingsStore> m_store;
    std::shared_ptr<Notifier> m_notifier;

    std::unique_ptr<IdleMonitor> m_idleMonitor;
    std::unique_ptr<CameraCapture> m_cameraCapture;
    std::unique_ptr<AudioMonitor> m_audioMonitor;
    std::unique_ptr<NowPlayingMonitor> m_nowPlayingMonitor;
    std::unique_ptr<MeetingMonitor> m_meetingMonitor;
    std::unique_ptr<RingManager> m_ringManager;
    std::unique_ptr<NetworkClient> m_networkClient;
    std::unique_ptr<SystemEventObserver> m_systemEventObserver;

    PresencePayloadBuilder m_payloadBuilder;
    std::unique_ptr<AppSettings> m_settings;
    ServerAddresses m_addresses;
    std::unique_ptr<AppTimers> m_timers;
    SubscriptionBag m_cancellables;
};

} // namespace pondra
