#pragma once

#include "platform/websocket/WebSocket.h"

#include <QStringList>

#include <vector>

namespace pondra {

/// A scripted connection for tests: it records what the client does, and the
/// test completes receives, sends and pings by hand (synchronously).
class FakeWebSocket final : public WebSocketConnection
{
public:
    explicit FakeWebSocket(QUrl url) : m_url(std::move(url)) {}

    void open() override { m_opened = true; }
    void close(int closeCode) override { m_closeCode = closeCode; }
    void sendText(const QString& text, Completion done) override;
    void receive(ReceiveCompletion done) override { m_pendingReceive = std::move(done); }
    void sendPing(Completion pongReceived) override { m_pings.push_back(std::move(pongReceived)); }

    const QUrl& url() const { return m_url; }
    bool isOpened() const { return m_opened; }
    std::optional<int> closeCode() const { return m_closeCode; }
    const QStringList& sentTexts() const { return m_sent; }
    bool hasPendingReceive() const { return bool(m_pendingReceive); }
    int pingCount() const { return int(m_pings.size()); }

    /// Each returns false when no receive was outstanding.
    bool deliverText(const QString& text) { return complete(WebSocketReceiveResult::textFrame(text)); }
    bool deliverData(const QByteArray& data) { return complete(WebSocketReceiveResult::dataFrame(data)); }
    bool failReceive(const QString& error) { return complete(WebSocketReceiveResult::failure(error)); }
    /// Answers the ping number `index` (0 is the first).
    void answerPing(int index, const std::optional<QString>& error = std::nullopt);
    /// Completes the send number `index`.
    void completeSend(int index, const std::optional<QString>& error = std::nullopt);

private:
    bool complete(const WebSocketReceiveResult& result);

    QUrl m_url;
    bool m_opened = false;
    std::optional<int> m_closeCode;
    QStringList m_sent;
    std::vector<Completion> m_sendCompletions;
    ReceiveCompletion m_pendingReceive;
    std::vector<Completion> m_pings;
};

class FakeWebSocketFactory final : public WebSocketFactory
{
public:
    std::shared_ptr<WebSocketConnection> create(const QUrl& url) override;

    const std::vector<std::shared_ptr<FakeWebSocket>>& created() const { return m_created; }
    int count() const { return int(m_created.size()); }
    /// The most recent connection (none before the first).
    std::shared_ptr<FakeWebSocket> latest() const { return m_created.empty() ? nullptr : m_created.back(); }

private:
    std::vector<std::shared_ptr<FakeWebSocket>> m_created;
};

} // namespace pondra
