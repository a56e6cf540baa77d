#include "net/NetworkClient.h"

#include "net/Messages.h"
#include "platform/core/Log.h"
#include "platform/http/QtHttpClient.h"
#include "platform/netpath/LinuxPathMonitor.h"
#include "platform/websocket/QtWebSocket.h"
#include "records/Text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace pondra {

namespace {

std::optional<QUrl> callUrl(const NetworkClient::UrlGetter& getter)
{
    return getter ? getter() : std::nullopt;
}

QString callText(const NetworkClient::TextGetter& getter)
{
    return getter ? getter() : QString();
}

} // namespace

NetworkClient::NetworkClient(Callbacks callbacks, Backends backends, QObject* parent)
    : QObject(parent), m_callbacks(std::move(callbacks)), m_http(std::move(backends.http)),
      m_sockets(std::move(backends.sockets)), m_pathMonitor(std::move(backends.pathMonitor)),
      m_scheduler(backends.scheduler ? *backends.scheduler : RealScheduler::instance())
{
    if (!m_http)
        m_http = std::make_shared<QtHttpClient>();
    if (!m_sockets)
        m_sockets = std::make_shared<QtWebSocketFactory>(m_scheduler);
    if (!m_pathMonitor) {
        // The monitor asks where the server is: one on this machine keeps the path usable.
        m_pathMonitor = std::make_shared<LinuxPathMonitor>(m_callbacks.getServerURL, m_scheduler);
    }
}

// Destroying the client closes nothing: the socket simply goes with it.
NetworkClient::~NetworkClient() = default;

void NetworkClient::connect()
{
    startPathMonitor();
    connectWebSocket();
}

void NetworkClient::reconnect()
{
    reconnectWebSocket();
}

void NetworkClient::sendJoin()
{
    sendWebSocketJoin();
}

void NetworkClient::startPathMonitor()
{
    m_pathMonitor->start([guard = QPointer<NetworkClient>(this)](const NetworkPath& path) {
        if (guard)
            guard->onPathUpdate(path);
    });
}

void NetworkClient::onPathUpdate(const NetworkPath& path)
{
    const bool wasAvailable = m_isNetworkAvailable;
    m_isNetworkAvailable = path.satisfied;
    if (path.satisfied) {
        logInfo(lcNetwork, "Network path satisfied (interface: %s)",
                path.interfaceNames.join(QStringLiteral(", ")));
        if (!wasAvailable) {
            logInfo(lcNetwork, "Network restored, triggering immediate reconnect");
            m_reconnectAttempt = 0;
            reconnectWebSocket();
        }
        return;
    }
    logInfo(lcNetwork, "Network path unsatisfied — pausing reconnect attempts");
    assign(isConnected, false);
    m_webSocketPingTask.cancel();
    m_webSocketReconnectTask.cancel();
    m_webSocketReconnectTask = {};
}

void NetworkClient::connectWebSocket()
{
    if (m_isReconnecting) {
        logDebug(lcNetwork, "Already reconnecting, skipping duplicate connect");
        return;
    }
    m_isReconnecting = true;
    m_isWebSocketIntentionallyClosed = false;
    m_webSocketPingTask.cancel();
    m_webSocketReconnectTask.cancel();
    m_webSocketReconnectTask = {};
    if (auto old = std::exchange(m_webSocketTask, nullptr))
        old->close(goingAwayCloseCode);

    // An address that could not be formed still gets a socket: it fails like
    // any connection that cannot be opened, and the back-off takes over.
    const std::optional<QUrl> url = callUrl(m_callbacks.getWsURL);
    m_webSocketTask = m_sockets->create(url.value_or(QUrl()));
    m_webSocketTask->open();

    // All three go out before the handshake completes; the socket holds them.
    sendWebSocketJoin();
    receiveWebSocketMessage();
    startWebSocketPing();

    m_isReconnecting = false;
    m_reconnectAttempt = 0;
    const QString host = url && !url->host().isEmpty() ? url->host() : QStringLiteral("unknown");
    logInfo(lcNetwork, "WebSocket connected to %s, resyncing state", host);

    fetchTeams();
    sendUpdate(true);
}

void NetworkClient::reconnectWebSocket()
{
    m_webSocketReconnectTask.cancel();
    m_isWebSocketIntentionallyClosed = true;
    m_webSocketPingTask.cancel();
    if (auto old = std::exchange(m_webSocketTask, nullptr))
        old->close(goingAwayCloseCode);
    m_webSocketReconnectTask = m_scheduler.after(forcedReconnectDelay, this, [this] { connectWebSocket(); });
}

void NetworkClient::startWebSocketPing()
{
    m_webSocketPingTask.cancel();
    m_webSocketPingTask = m_scheduler.every(pingPeriod, this, [this] {
        if (!m_webSocketTask)
            return;
        m_webSocketTask->sendPing(
            [guard = QPointer<NetworkClient>(this)](const std::optional<QString>& error) {
                if (guard)
                    guard->onPongReceived(error);
            });
    });
}

void NetworkClient::onPongReceived(const std::optional<QString>& error)
{
    if (!error)
        return;
    logError(lcNetwork, "WebSocket ping failed: %@", *error);
    assign(isConnected, false);
    m_isWebSocketIntentionallyClosed = false;
    scheduleReconnect();
}

void NetworkClient::scheduleReconnect()
{
    if (m_isWebSocketIntentionallyClosed || m_isReconnecting || m_webSocketReconnectTask.isActive())
        return;
    if (!m_isNetworkAvailable) {
        logInfo(lcNetwork, "Network unavailable, skipping reconnect (will resume when network returns)");
        return;
    }
    const double delaySeconds = std::min(60.0, 3.0 * std::pow(2.0, double(m_reconnectAttempt)));
    ++m_reconnectAttempt;
    logInfo(lcNetwork, "Scheduling WebSocket reconnect in %fs (attempt %ld)...", delaySeconds,
            m_reconnectAttempt);
    m_webSocketPingTask.cancel();
    assign(isConnected, false);
    const auto delay = milliseconds(qint64(std::llround(delaySeconds * 1000.0)));
    m_webSocketReconnectTask = m_scheduler.after(delay, this, [this] {
        m_webSocketReconnectTask = {};
        if (!m_isWebSocketIntentionallyClosed && !m_isReconnecting)
            connectWebSocket();
    });
}

void NetworkClient::sendWebSocketJoin()
{
    const QString text = net::joinMessageText(callText(m_callbacks.getTeamName));
    if (!m_webSocketTask)
        return;
    m_webSocketTask->sendText(text, [](const std::optional<QString>& error) {
        if (error)
            logError(lcNetwork, "Failed to send join message: %@", *error);
    });
}

void NetworkClient::receiveWebSocketMessage()
{
    if (!m_webSocketTask)
        return;
    std::weak_ptr<WebSocketConnection> asked = m_webSocketTask;
    m_webSocketTask->receive(
        [guard = QPointer<NetworkClient>(this), asked](const WebSocketReceiveResult& result) {
            if (guard)
                guard->onReceiveCompleted(asked, result);
        });
}

void NetworkClient::onReceiveCompleted(const std::weak_ptr<WebSocketConnection>& asked,
                                       const WebSocketReceiveResult& result)
{
    const auto socket = asked.lock();
    if (!socket || socket != m_webSocketTask) {
        logDebug(lcNetwork, "Ignoring callback from old WebSocket task");
        return;
    }
    if (result.kind == WebSocketReceiveResult::Kind::Error) {
        logError(lcNetwork, "WebSocket receive error: %@", result.errorText);
        assign(isConnected, false);
        scheduleReconnect();
        return;
    }
    assign(isConnected, true);
    if (result.kind == WebSocketReceiveResult::Kind::Text) {
        handleWebSocketMessage(result.text);
    } else if (const auto text = net::textOfDataFrame(result.data)) {
        handleWebSocketMessage(*text);
    }
    // A handler may have replaced the socket (a reconnect); the new one runs
    // its own loop, so only the socket that was asked goes on here.
    if (socket == m_webSocketTask)
        receiveWebSocketMessage();
}

void NetworkClient::handleWebSocketMessage(const QString& text)
{
    const net::IncomingMessage message = net::decodeIncomingMessage(text.toUtf8());
    if (std::holds_alternative<net::UndecodableMessage>(message)) {
        logError(lcNetwork, "Failed to decode WebSocket message type");
    } else if (const auto* unknown = std::get_if<net::UnknownMessage>(&message)) {
        logDebug(lcNetwork, "Unknown WebSocket message type: %s", unknown->type);
    } else if (const auto* users = std::get_if<net::UsersMessage>(&message)) {
        assign(remoteUsers, users->data);
    } else if (const auto* ring = std::get_if<net::RingMessage>(&message)) {
        if (canonicallyEqual(ring->to, callText(m_callbacks.getUserName)) && m_callbacks.onRingReceived)
            m_callbacks.onRingReceived(ring->from, ring->url, ring->photo);
    } else if (const auto* response = std::get_if<net::RingResponseMessage>(&message)) {
        if (canonicallyEqual(response->to, callText(m_callbacks.getUserName)) &&
            m_callbacks.onRingResponseReceived)
            m_callbacks.onRingResponseReceived(response->from, response->accepted, response->url);
    }
    // A known type whose members do not decode is dropped without a word.
}

void NetworkClient::fetchTeams()
{
    const std::optional<QUrl> url = callUrl(m_callbacks.getTeamsURL);
    if (!url) {
        logError(lcNetwork, "Failed to fetch teams: %@", QStringLiteral("Invalid server address"));
        return;
    }
    m_http->get(*url, callText(m_callbacks.getApiToken), this, [this](const HttpReply& reply) {
        if (!reply.status) {
            logError(lcNetwork, "Failed to fetch teams: %@", reply.errorText);
            return;
        }
        // The status is not looked at: any reply that is a list of names counts.
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(reply.body, &error);
        if (error.error != QJsonParseError::NoError || !document.isArray())
            return;
        QStringList teams;
        const QJsonArray array = document.array();
        for (const QJsonValue& value : array) {
            if (!value.isString())
                return;
            teams.append(value.toString());
        }
        assign(availableTeams, teams);
    });
}

void NetworkClient::sendUpdate(bool forceUpdate)
{
    sendUpdateAsync(forceUpdate, {});
}

void NetworkClient::sendUpdateAsync(bool forceUpdate, std::function<void()> finished)
{
    auto finish = [finished] {
        if (finished)
            finished();
    };
    if (!m_callbacks.getUpdatePayload) {
        finish();
        return;
    }
    m_callbacks.getUpdatePayload(
        forceUpdate, [guard = QPointer<NetworkClient>(this), finish](const UpdatePayload& answer) {
            if (!guard)
                return;
            NetworkClient& self = *guard;
            if (!answer.shouldSend || !answer.payload) {
                finish();
                return;
            }
            // Stored before anything is sent: it says what was built, not what arrived.
            if (answer.state)
                self.m_lastSentState = answer.state;
            const QByteArray body = QJsonDocument(*answer.payload).toJson(QJsonDocument::Compact);
            const std::optional<QUrl> url = callUrl(self.m_callbacks.getServerURL);
            if (!url) {
                // Like a transport failure: the address was already logged when it was refused.
                finish();
                return;
            }
            self.m_http->postJson(*url, body, callText(self.m_callbacks.getApiToken), &self,
                                  [finish](const HttpReply& reply) {
                                      if (reply.status && *reply.status != 200)
                                          logError(lcNetwork, "Server returned status: %ld", *reply.status);
                                      finish();
                                  });
        });
}

void NetworkClient::startKeepAlive()
{
    stopKeepAlive();
    m_keepAliveToken = std::make_shared<bool>(true);
    runKeepAliveStep(m_keepAliveToken);
}

void NetworkClient::runKeepAliveStep(std::shared_ptr<bool> token)
{
    // One wait, then one upload; the next wait starts once that upload has finished.
    m_keepAliveTimer = m_scheduler.after(keepAlivePeriod, this, [this, token] {
        if (!*token)
            return;
        sendUpdateAsync(true, [guard = QPointer<NetworkClient>(this), token] {
            if (guard && *token)
                guard->runKeepAliveStep(token);
        });
    });
}

void NetworkClient::stopKeepAlive()
{
    if (m_keepAliveToken)
        *m_keepAliveToken = false;
    m_keepAliveToken.reset();
    m_keepAliveTimer.cancel();
}

} // namespace pondra
