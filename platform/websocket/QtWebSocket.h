#pragma once

#include "platform/core/Scheduler.h"
#include "platform/websocket/WebSocket.h"

#include <QAbstractSocket>
#include <QObject>
#include <QPointer>
#include <QWebSocket>

#include <deque>
#include <vector>

namespace pondra {

/// The largest incoming message and frame we accept: a "users" message of
/// about 600 teammates with their photos. A larger one ends the connection.
inline constexpr qint64 maxIncomingWebSocketBytes = 16 * 1024 * 1024;
/// The most that may wait to be received (as UTF-8 for text): a peer that
/// sends faster than we read ends the connection instead of filling memory.
inline constexpr qint64 maxWaitingWebSocketBytes = 2 * maxIncomingWebSocketBytes;

/// WebSocketConnection over QWebSocket.
class QtWebSocketConnection final : public QObject,
                                    public WebSocketConnection,
                                    public std::enable_shared_from_this<QtWebSocketConnection>
{
    Q_OBJECT
public:
    /// An opening handshake that takes longer than this counts as a failure.
    static constexpr milliseconds handshakeDeadline{60'000};

    QtWebSocketConnection(QUrl url, Scheduler& scheduler);
    ~QtWebSocketConnection() override;

    void open() override;
    void close(int closeCode) override;
    void sendText(const QString& text, Completion done) override;
    void receive(ReceiveCompletion done) override;
    void sendPing(Completion pongReceived) override;

private:
    enum class State
    {
        Idle,
        Opening,
        Open,
        Ended
    };

    void onConnected();
    void onDisconnected();
    void onSocketError(QAbstractSocket::SocketError error);
    void onPong();
    void onFrame(WebSocketReceiveResult frame);

    void fail(const QString& errorText);
    void deliverFrames();
    void failHeldSends();
    /// Runs `fn` on a later turn, keeping this connection alive until then.
    void later(std::function<void()> fn);

    QUrl m_url;
    Scheduler& m_scheduler;
    QPointer<QWebSocket> m_socket;
    State m_state = State::Idle;
    QString m_endError;
    ReceiveCompletion m_pendingReceive;
    struct WaitingFrame
    {
        WebSocketReceiveResult frame;
        qint64 wireBytes = 0;
    };
    std::deque<WaitingFrame> m_frames;
    qint64 m_waitingBytes = 0;
    std::vector<std::pair<QString, Completion>> m_heldSends;
    Completion m_pendingPong;
    bool m_pingHeld = false;
    TimerHandle m_handshakeTimer;
};

class QtWebSocketFactory final : public WebSocketFactory
{
public:
    explicit QtWebSocketFactory(Scheduler& scheduler = RealScheduler::instance()) : m_scheduler(scheduler) {}
    std::shared_ptr<WebSocketConnection> create(const QUrl& url) override;

private:
    Scheduler& m_scheduler;
};

} // namespace pondra
