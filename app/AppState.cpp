#include "app/AppState.h"

#include "app/NotificationSetup.h"
#include "platform/notify/DBusNotifier.h"
#include "records/IdleState.h"

namespace pondra {

AppState& AppState::shared()
{
    // Lives until the process ends; never destroyed, as nothing is saved at exit.
    static AppState* const instance = new AppState();
    return *instance;
}

AppState::AppState(AppBackends backends, QObject* parent)
    : QObject(parent), m_scheduler(backends.scheduler ? *backends.scheduler : RealScheduler::instance()),
      m_store(backends.settings ? std::move(backends.settings) : std::make_shared<SettingsStore>()),
      m_notifier(backends.notifier ? std::move(backends.notifier) : std::make_shared<DBusNotifier>()),
      m_addresses([this] { return m_settings->serverBaseURL().get(); },
                  [this] { return m_settings->apiToken().get(); })
{
    const auto announce = [this] { Q_EMIT changed(); };
    waitingForResponse.setChangeHook(announce);
    incomingRing.setChangeHook(announce);
    remoteUsers.setChangeHook(announce);
    availableTeams.setChangeHook(announce);
    isConnected.setChangeHook(announce);
    shouldOpenSettings.setChangeHook(announce);
    isScreenLocked.setChangeHook(announce);

    // The monitors and the capture service start their own polling as they are made.
    m_idleMonitor = std::make_unique<IdleMonitor>(
        backends.idleSource ? std::move(backends.idleSource) : makeSystemIdleSource(), m_scheduler);
    m_cameraCapture = std::make_unique<CameraCapture>(
        backends.camera ? std::move(backends.camera) : makeDefaultCameraBackend(),
        backends.faces ? std::move(backends.faces) : makeDefaultFaceAnalyser(), m_scheduler, m_store,
        backends.awayPhotoFolder);
    m_audioMonitor = std::make_unique<AudioMonitor>(
        backends.audio ? std::move(backends.audio) : AudioMonitor::sharedDefaultSource(), m_scheduler);
    m_nowPlayingMonitor = std::make_unique<NowPlayingMonitor>(
        m_scheduler,
        backends.nowPlayingInterpreter.isEmpty() ? QStringLiteral("/usr/bin/perl")
                                                 : backends.nowPlayingInterpreter,
        backends.nowPlayingScript ? backends.nowPlayingScript : defaultNowPlayingScriptPath());
    m_meetingMonitor = std::make_unique<MeetingMonitor>(
        backends.meeting ? std::move(backends.meeting) : MeetingMonitor::defaultSignals(), m_scheduler);

    // Loading writes nothing but a newly made user id, and runs no effect.
    m_settings = std::make_unique<AppSettings>(*m_store, m_scheduler,
                                               SettingsEffects{
                                                   [this](bool force) { sendUpdate(force); },
                                                   [this] { sendWebSocketJoin(); },
                                                   [this] { m_networkClient->reconnect(); },
                                                   [this] { fetchTeams(); },
                                                   [this] { setupAutoRetakeTimer(); },
                                               },
                                               announce);

    if (!backends.rings.scheduler)
        backends.rings.scheduler = &m_scheduler;
    m_ringManager = std::make_unique<RingManager>(
        [this] { return ringURL(); }, [this] { return ringResponseURL(); },
        [this] { return userName().get(); }, [this] { return userId(); },
        [this] { return userEmail().get(); }, [this] { return m_cameraCapture->capturedImage.get(); },
        [this] { return apiToken().get(); }, backends.rings);

    if (!backends.network.scheduler)
        backends.network.scheduler = &m_scheduler;
    m_networkClient = std::make_unique<NetworkClient>(
        NetworkClientCallbacks{
            [this] { return m_addresses.wsURL(); },
            [this] { return teamsURL(); },
            [this] { return m_addresses.serverURL(); },
            [this] { return teamName().get(); },
            [this] { return apiToken().get(); },
            [this] { return userName().get(); },
            [this](const QString& from, const std::optional<QString>& url,
                   const std::optional<QString>& photo) {
                m_ringManager->playRingSound();
                m_ringManager->showRingNotification(from, url, photo);
            },
            [this](const QString& from, bool accepted, const std::optional<QString>& url) {
                m_ringManager->handleRingResponse(from, accepted, url);
            },
            // Built on a later turn of the main loop, as its own task: a going-away
            // record then already carries the pixelated photo.
            [this](bool force, std::function<void(const UpdatePayload&)> done) {
                m_scheduler.post(this,
                                 [this, force, done = std::move(done)] { done(buildUpdatePayload(force)); });
            },
        },
        std::move(backends.network));

    m_systemEventObserver = std::make_unique<SystemEventObserver>(
        [this] { onScreenLock(); }, [this] { onSystemWake(); },
        backends.sessionEvents ? std::move(backends.sessionEvents)
                               : SystemEventObserver::makeSystemSessionEvents(),
        m_scheduler);

    m_timers = std::make_unique<AppTimers>(m_scheduler, *m_store, *m_notifier,
                                           AppTimerHooks{
                                               [this] { return autoRetakeMinutes().get(); },
                                               [this] { return m_cameraCapture->isPondraMode.get(); },
                                               [this] { m_cameraCapture->capturePondra(false); },
                                               [this] { return userStatus().get(); },
                                               [this](const QString& status) { setUserStatus(status); },
                                               [this] { return hasUserName(); },
                                               [this] { openSettings(); },
                                           },
                                           this);
    m_timers->setupAutoRetakeTimer();
    m_timers->setupStatusStalenessTimer();

    subscribeToMonitors();
    setupNotifications(*m_notifier, this);
    m_networkClient->connect();
    subscribeToServices();
}

AppState::~AppState()
{
    // Subscriptions first: nothing may reach a half-destroyed state.
    m_cancellables.clear();
}

void AppState::subscribeToMonitors()
{
    auto& capture = *m_cameraCapture;

    m_cancellables.add(m_idleMonitor->idleSeconds.subscribe(
        this, [handler = dropRepeats<QString>([this](const QString& band) {
                   if (band == QLatin1String("idle") && m_cameraCapture->isPondraMode.get())
                       m_cameraCapture->resetPondra();
                   sendUpdate();
               })](const double& seconds) { handler(IdleState::fromSeconds(seconds).wireText()); }));

    m_cancellables.add(capture.isPondraMode.subscribe(this, dropRepeats<bool>([this](const bool&) {
                                                          sendUpdate();
                                                          m_networkClient->startKeepAlive();
                                                      })));

    m_cancellables.add(capture.capturedImage.subscribe(
        this, skipFirst<std::optional<QImage>>([this](const std::optional<QImage>&) { sendUpdate(true); })));

    m_cancellables.add(
        m_audioMonitor->isPlaying.subscribe(this, dropRepeats<bool>([this](const bool&) { sendUpdate(); })));
    m_cancellables.add(
        m_audioMonitor->isMuted.subscribe(this, dropRepeats<bool>([this](const bool&) { sendUpdate(); })));

    const auto forceWhenTrackShown = [this] {
        if (includeNowPlaying().get())
            sendUpdate(true);
    };
    m_cancellables.add(m_nowPlayingMonitor->currentTrack.subscribe(
        this, onNextTurn<QString>(
                  m_scheduler, this,
                  dropRepeats<QString>([forceWhenTrackShown](const QString&) { forceWhenTrackShown(); }))));
    m_cancellables.add(m_nowPlayingMonitor->isPlaying.subscribe(
        this, onNextTurn<bool>(m_scheduler, this, dropRepeats<bool>([forceWhenTrackShown](const bool&) {
                                   forceWhenTrackShown();
                               }))));

    m_cancellables.add(includeNowPlaying().subscribe(
        this, skipFirst<bool>(dropRepeats<bool>([this](const bool&) { sendUpdate(true); }))));

    m_cancellables.add(m_meetingMonitor->isInMeeting.subscribe(
        this, dropRepeats<bool>([this](const bool&) { sendUpdate(); })));
}

void AppState::subscribeToServices()
{
    auto mirror = [this](auto& source, auto& target) {
        using T = std::decay_t<decltype(source.get())>;
        m_cancellables.add(source.subscribe(this, [&target](const T& value) { target.set(value); }));
    };
    mirror(m_ringManager->incomingRing, incomingRing);
    mirror(m_ringManager->waitingForResponse, waitingForResponse);
    mirror(m_networkClient->remoteUsers, remoteUsers);
    mirror(m_networkClient->availableTeams, availableTeams);
    mirror(m_networkClient->isConnected, isConnected);
    mirror(m_systemEventObserver->isScreenLocked, isScreenLocked);
}

QString AppState::fullStatus() const
{
    return composeFullStatus(m_settings->userStatus().get(), m_settings->includeNowPlaying().get(),
                             m_nowPlayingMonitor->nowPlayingText());
}

UpdatePayload AppState::buildUpdatePayload(bool forceUpdate)
{
    PresenceSnapshot snapshot;
    snapshot.userId = userId();
    snapshot.userName = userName().get();
    snapshot.userEmail = userEmail().get();
    snapshot.teamName = teamName().get();
    snapshot.userStatus = userStatus().get();
    snapshot.includeNowPlaying = includeNowPlaying().get();
    snapshot.nowPlayingText = m_nowPlayingMonitor->nowPlayingText();
    snapshot.isPondraMode = m_cameraCapture->isPondraMode.get();
    snapshot.capturedImage = m_cameraCapture->capturedImage.get();
    snapshot.idleSeconds = m_idleMonitor->idleSeconds.get();
    snapshot.isIdle = m_idleMonitor->isIdle.get();
    snapshot.outputDeviceType = m_audioMonitor->outputDeviceType.get();
    snapshot.outputDeviceName = m_audioMonitor->outputDeviceName.get();
    snapshot.isMuted = m_audioMonitor->isMuted.get();
    // Media playback as the now-playing monitor sees it, not the output device's state.
    snapshot.isPlayingMedia = m_nowPlayingMonitor->isPlaying.get();
    snapshot.isInMeeting = m_meetingMonitor->isInMeeting.get();
    snapshot.meetingApp = m_meetingMonitor->meetingApp.get();
    snapshot.now = m_scheduler.now();
    return m_payloadBuilder.build(snapshot, forceUpdate);
}

void AppState::onScreenLock()
{
    if (m_cameraCapture->isPondraMode.get()) {
        m_cameraCapture->resetPondra();
        return;
    }
    // Already away: only a run in progress is ended, so it cannot bring the
    // user back while the screen is locked. Going away again would send and
    // rewrite the away photo for nothing.
    m_cameraCapture->cancelCapture();
}

void AppState::onSystemWake()
{
    m_networkClient->reconnect();
    checkStatusStaleness();
}

} // namespace pondra
