#pragma once

#include "platform/core/Published.h"
#include "platform/core/Scheduler.h"
#include "platform/http/HttpClient.h"
#include "platform/netpath/PathMonitor.h"
#include "platform/websocket/WebSocket.h"
#include "records/LastSentState.h"
#include "records/RemoteUser.h"
#include "records/UpdatePayload.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace pondra {

/// Handed in by the application state, in this order.
struct NetworkClientCallbacks
{
    /// An address that could not be formed comes back as none; that request
    /// or connection attempt then fails.
    using UrlGetter = std::function<std::optional<QUrl>()>;
    using TextGetter = std::function<QString()>;

    UrlGetter getWsURL;
    UrlGetter getTeamsURL;
    UrlGetter getServerURL;
    TextGetter getTeamName;
    TextGetter getApiToken;
    TextGetter getUserName;
    std::function<void(const QString& from, const std::optional<QString>& url,
                       const std::optional<QString>& photo)>
        onRingReceived;
    std::function<void(const QString& from, bool accepted, const std::optional<QString>& url)>
        onRingResponseReceived;
    /// Asynchronous: calls `done` (now or later, on the main thread) with the answer.
    std::function<void(bool force, std::function<void(const UpdatePayload&)> done)> getUpdatePayload;
};

/// Left empty, each backend is the real one.
struct NetworkClientBackends
{
    std::shared_ptr<HttpClient> http;
    std::shared_ptr<WebSocketFactory> sockets;
    std::shared_ptr<PathMonitor> pathMonitor;
    Scheduler* scheduler = nullptr;
};

/**
 * The one connection to the team server: the WebSocket with its join,
 * receive loop, pings, back-off and network-path watch, and the HTTP update
 * and team-list requests with the keep-alive resend. Main thread only.
 */
class NetworkClient final : public QObject
{
    Q_OBJECT
public:
    using UrlGetter = NetworkClientCallbacks::UrlGetter;
    using TextGetter = NetworkClientCallbacks::TextGetter;
    using Callbacks = NetworkClientCallbacks;
    using Backends = NetworkClientBackends;

    static constexpr milliseconds pingPeriod{30'000};
    static constexpr milliseconds forcedReconnectDelay{500};
    static constexpr milliseconds keepAlivePeriod{60'000};
    static constexpr int goingAwayCloseCode = 1001;

    explicit NetworkClient(Callbacks callbacks, Backends backends = {}, QObject* parent = nullptr);
    ~NetworkClient() override;

    Owned<QList<RemoteUser>, NetworkClient> remoteUsers;
    Owned<QStringList, NetworkClient> availableTeams{QStringList{QStringLiteral("Default")}};
    Owned<bool, NetworkClient> isConnected{false};

    void connect();
    void reconnect();
    void sendJoin();
    void fetchTeams();
    void sendUpdate(bool forceUpdate = false);
    void startKeepAlive();
    void stopKeepAlive();

    // Read-only views of the inner state, for the application's diagnostics and tests.
    std::optional<LastSentState> lastSentState() const { return m_lastSentState; }
    qint64 reconnectAttempt() const { return m_reconnectAttempt; }
    bool isNetworkAvailable() const { return m_isNetworkAvailable; }
    bool hasPendingReconnect() const { return m_webSocketReconnectTask.isActive(); }
    bool isKeepAliveRunning() const { return bool(m_keepAliveToken); }

Q_SIGNALS:
    /// Fires before any published value of the client changes.
    void objectWillChange();

private:
    /// Views hear of the change before it lands, as the owner announces it.
    template <typename T> void assign(Owned<T, NetworkClient>& property, T value)
    {
        Q_EMIT objectWillChange();
        property.set(std::move(value));
    }

    void onPathUpdate(const NetworkPath& path);
    void onReceiveCompleted(const std::weak_ptr<WebSocketConnection>& asked,
                            const WebSocketReceiveResult& result);
    void onPongReceived(const std::optional<QString>& error);

    void startPathMonitor();
    void connectWebSocket();
    void reconnectWebSocket();
    void startWebSocketPing();
    void scheduleReconnect();
    void sendWebSocketJoin();
    void receiveWebSocketMessage();
    void handleWebSocketMessage(const QString& text);
    void sendUpdateAsync(bool forceUpdate, std::function<void()> finished);
    void runKeepAliveStep(std::shared_ptr<bool> token);

    Callbacks m_callbacks;
    std::shared_ptr<HttpClient> m_http;
    std::shared_ptr<WebSocketFactory> m_sockets;
    std::shared_ptr<PathMonitor> m_pathMonitor;
    Scheduler& m_scheduler;

    std::shared_ptr<WebSocketConnection> m_webSocketTask;
    TimerHandle m_webSocketPingTask;
    TimerHandle m_webSocketReconnectTask;
    bool m_isWebSocketIntentionallyClosed = false;
    bool m_isReconnecting = false;
    /// The running keep-alive loop's token; cleared (and set false) to stop it.
    std::shared_ptr<bool> m_keepAliveToken;
    TimerHandle m_keepAliveTimer;
    std::optional<LastSentState> m_lastSentState;
    bool m_isNetworkAvailable = true;
    qint64 m_reconnectAttempt = 0;
};

} // namespace pondra
