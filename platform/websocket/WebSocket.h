#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace pondra {

/// One incoming WebSocket message, or the failure that ended the wait for it.
struct WebSocketReceiveResult
{
    enum class Kind { Text, Data, Error };

    Kind kind = Kind::Error;
    QString text;
    QByteArray data;
    /// Description of the failure when `kind` is Error.
    QString errorText;

    static WebSocketReceiveResult textFrame(QString t) { return {Kind::Text, std::move(t), {}, {}}; }
    static WebSocketReceiveResult dataFrame(QByteArray d) { return {Kind::Data, {}, std::move(d), {}}; }
    static WebSocketReceiveResult failure(QString e) { return {Kind::Error, {}, {}, std::move(e)}; }
};

/**
 * One client WebSocket connection, used one frame at a time.
 *
 * Every completion runs on the main thread on a later turn of the event loop,
 * never inside the call that asked for it. Messages sent before the opening
 * handshake completes are held and delivered once it does; a failed handshake
 * fails the pending receive and the held sends.
 */
class WebSocketConnection
{
public:
    /// No error means success.
    using Completion = std::function<void(const std::optional<QString>& error)>;
    using ReceiveCompletion = std::function<void(const WebSocketReceiveResult&)>;

    virtual ~WebSocketConnection() = default;

    /// Starts the opening handshake. An address that cannot be used fails the
    /// connection (as a receive failure, on a later turn).
    virtual void open() = 0;
    /// Closes with the given close code and no reason. Outstanding completions
    /// still run, with an error, on a later turn.
    virtual void close(int closeCode) = 0;
    virtual void sendText(const QString& text, Completion done) = 0;
    /// Asks for the next frame; at most one request is outstanding at a time.
    virtual void receive(ReceiveCompletion done) = 0;
    /// Sends a ping; `pongReceived` runs when the pong arrives, or with an
    /// error when it does not come by the next ping.
    virtual void sendPing(Completion pongReceived) = 0;
};

/// Makes connections for addresses; an injected seam so tests can script sockets.
class WebSocketFactory
{
public:
    virtual ~WebSocketFactory() = default;
    virtual std::shared_ptr<WebSocketConnection> create(const QUrl& url) = 0;
};

} // namespace pondra
