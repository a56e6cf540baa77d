#include "platform/websocket/FakeWebSocket.h"

namespace pondra {

void FakeWebSocket::sendText(const QString& text, Completion done)
{
    m_sent.append(text);
    m_sendCompletions.push_back(std::move(done));
}

void FakeWebSocket::answerPing(int index, const std::optional<QString>& error)
{
    if (index < 0 || index >= int(m_pings.size()) || !m_pings[size_t(index)])
        return;
    auto done = std::exchange(m_pings[size_t(index)], {});
    done(error);
}

void FakeWebSocket::completeSend(int index, const std::optional<QString>& error)
{
    if (index < 0 || index >= int(m_sendCompletions.size()) || !m_sendCompletions[size_t(index)])
        return;
    auto done = std::exchange(m_sendCompletions[size_t(index)], {});
    done(error);
}

bool FakeWebSocket::complete(const WebSocketReceiveResult& result)
{
    auto done = std::exchange(m_pendingReceive, {});
    if (!done)
        return false;
    done(result);
    return true;
}

std::shared_ptr<WebSocketConnection> FakeWebSocketFactory::create(const QUrl& url)
{
    m_created.push_back(std::make_shared<FakeWebSocket>(url));
    return m_created.back();
}

} // namespace pondra
