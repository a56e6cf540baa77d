#include "platform/websocket/QtWebSocket.h"

#include <QCoreApplication>
#include <QTimer>

namespace pondra {

namespace {
/// The size a frame had on the wire: its UTF-8 length for text.
qint64 wireSize(const WebSocketReceiveResult& frame)
{
    if (frame.kind != WebSocketReceiveResult::Kind::Text)
        return frame.data.size();
    qint64 bytes = 0;
    for (const QChar c : frame.text) {
        const char16_t unit = c.unicode();
        // A surrogate pair is four bytes, two for each half.
        bytes += unit < 0x80 ? 1 : unit < 0x800 ? 2 : QChar::isSurrogate(unit) ? 2 : 3;
    }
    return bytes;
}
} // namespace

QtWebSocketConnection::QtWebSocketConnection(QUrl url, Scheduler& scheduler)
    : m_url(std::move(url)), m_scheduler(scheduler)
{
    // No origin and no extra header: the handshake carries only what the protocol needs.
    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket->setMaxAllowedIncomingMessageSize(maxIncomingWebSocketBytes);
    m_socket->setMaxAllowedIncomingFrameSize(maxIncomingWebSocketBytes);
    connect(m_socket, &QWebSocket::connected, this, &QtWebSocketConnection::onConnected);
    connect(m_socket, &QWebSocket::disconnected, this, &QtWebSocketConnection::onDisconnected);
    connect(m_socket, QOverload<QAbstractSocket::SocketError>::of(&QWebSocket::error), this,
            &QtWebSocketConnection::onSocketError);
    connect(m_socket, &QWebSocket::pong, this, &QtWebSocketConnection::onPong);
    connect(m_socket, &QWebSocket::textMessageReceived, this,
            [this](const QString& text) { onFrame(WebSocketReceiveResult::textFrame(text)); });
    connect(m_socket, &QWebSocket::binaryMessageReceived, this,
            [this](const QByteArray& data) { onFrame(WebSocketReceiveResult::dataFrame(data)); });
}

QtWebSocketConnection::~QtWebSocketConnection()
{
    m_handshakeTimer.cancel();
    if (m_socket) {
        // Our handlers must not run while this object is half destroyed.
        m_socket->disconnect(this);
        delete m_socket.data();
    }
}

void QtWebSocketConnection::later(std::function<void()> fn)
{
    // Queued on the application object rather than on this one, so a
    // completion that drops the last reference to us runs safely.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [self = shared_from_this(), fn = std::move(fn)] { fn(); },
        Qt::QueuedConnection);
}

void QtWebSocketConnection::open()
{
    if (m_state != State::Idle)
        return;
    const QString scheme = m_url.scheme();
    if (!m_url.isValid() || m_url.host().isEmpty() ||
        (scheme != QLatin1String("ws") && scheme != QLatin1String("wss"))) {
        fail(QStringLiteral("Invalid WebSocket address"));
        return;
    }
    m_state = State::Opening;
    m_handshakeTimer = m_scheduler.after(handshakeDeadline, this, [this] {
        fail(QStringLiteral("The WebSocket opening handshake timed out"));
    });
    m_socket->open(m_url);
}

void QtWebSocketConnection::close(int closeCode)
{
    if (m_state == State::Ended)
        return;
    const bool wasStarted = m_state != State::Idle;
    fail(QStringLiteral("The WebSocket was closed by the client"));
    if (!wasStarted || !m_socket)
        return;
    // Let the closing handshake finish on its own, independent of our lifetime.
    QWebSocket* socket = m_socket;
    socket->disconnect(this);
    socket->setParent(QCoreApplication::instance());
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(2000, socket, &QObject::deleteLater);
    socket->close(static_cast<QWebSocketProtocol::CloseCode>(closeCode), QString());
    m_socket = nullptr;
}

void QtWebSocketConnection::sendText(const QString& text, Completion done)
{
    switch (m_state) {
    case State::Idle:
    case State::Opening:
        m_heldSends.emplace_back(text, std::move(done));
        return;
    case State::Open: {
        const qint64 written = m_socket->sendTextMessage(text);
        const std::optional<QString> error =
            written > 0 || text.isEmpty() ? std::nullopt : std::optional<QString>(m_socket->errorString());
        later([done = std::move(done), error] {
            if (done)
                done(error);
        });
        return;
    }
    case State::Ended:
        later([done = std::move(done), error = m_endError] {
            if (done)
                done(error);
        });
        return;
    }
}

void QtWebSocketConnection::receive(ReceiveCompletion done)
{
    m_pendingReceive = std::move(done);
    deliverFrames();
}

void QtWebSocketConnection::sendPing(Completion pongReceived)
{
    // A socket that has ended has reported its failure through the receive.
    if (m_state == State::Ended)
        return;
    // No pong by the next ping: the connection is probably half-open.
    if (auto overdue = std::exchange(m_pendingPong, {}))
        later([overdue] { overdue(QStringLiteral("No pong received before the next ping")); });
    m_pendingPong = std::move(pongReceived);
    if (m_state == State::Open)
        m_socket->ping();
    else
        m_pingHeld = true;
}

void QtWebSocketConnection::onConnected()
{
    if (m_state != State::Opening)
        return;
    m_state = State::Open;
    m_handshakeTimer.cancel();
    auto held = std::exchange(m_heldSends, {});
    for (auto& [text, done] : held)
        sendText(text, std::move(done));
    if (std::exchange(m_pingHeld, false))
        m_socket->ping();
}

void QtWebSocketConnection::onDisconnected()
{
    if (m_state == State::Ended || !m_socket)
        return;
    const int code = m_socket->closeCode();
    const QString reason = m_socket->closeReason();
    QString text;
    if (m_socket->error() != QAbstractSocket::UnknownSocketError && !m_socket->errorString().isEmpty())
        text = m_socket->errorString();
    else
        text = QStringLiteral("The WebSocket connection closed (code %1%2)")
                   .arg(code)
                   .arg(reason.isEmpty() ? QString() : QStringLiteral(": ") + reason);
    fail(text);
}

void QtWebSocketConnection::onSocketError(QAbstractSocket::SocketError)
{
    // The error and the disconnection that usually follows are one failure.
    if (m_socket)
        fail(m_socket->errorString());
}

void QtWebSocketConnection::onPong()
{
    if (auto done = std::exchange(m_pendingPong, {}))
        later([done] { done(std::nullopt); });
}

void QtWebSocketConnection::onFrame(WebSocketReceiveResult frame)
{
    if (m_state == State::Ended)
        return;
    const qint64 size = wireSize(frame);
    if (m_waitingBytes + size > maxWaitingWebSocketBytes) {
        // Refused like a message over the size cap: the connection ends with
        // "too big", and the frames already waiting are still handed out.
        fail(QStringLiteral("More than %1 MiB of WebSocket messages waiting to be received")
                 .arg(maxWaitingWebSocketBytes / (1024 * 1024)));
        if (m_socket)
            m_socket->close(QWebSocketProtocol::CloseCodeTooMuchData);
        return;
    }
    m_waitingBytes += size;
    m_frames.push_back({std::move(frame), size});
    deliverFrames();
}

void QtWebSocketConnection::fail(const QString& errorText)
{
    if (m_state == State::Ended)
        return;
    const bool wasOpening = m_state == State::Opening;
    m_state = State::Ended;
    m_endError = errorText;
    m_handshakeTimer.cancel();
    m_pendingPong = {};
    m_pingHeld = false;
    if (wasOpening && m_socket && m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
    failHeldSends();
    deliverFrames();
}

void QtWebSocketConnection::failHeldSends()
{
    auto held = std::exchange(m_heldSends, {});
    for (auto& [text, done] : held)
        later([done = std::move(done), error = m_endError] {
            if (done)
                done(error);
        });
}

void QtWebSocketConnection::deliverFrames()
{
    if (!m_pendingReceive)
        return;
    // Frames that arrived before a failure are still handed out first.
    if (!m_frames.empty()) {
        WebSocketReceiveResult frame = std::move(m_frames.front().frame);
        m_waitingBytes -= m_frames.front().wireBytes;
        m_frames.pop_front();
        later([done = std::exchange(m_pendingReceive, {}), frame = std::move(frame)] { done(frame); });
    } else if (m_state == State::Ended) {
        later([done = std::exchange(m_pendingReceive, {}), error = m_endError] {
            done(WebSocketReceiveResult::failure(error));
        });
    }
}

std::shared_ptr<WebSocketConnection> QtWebSocketFactory::create(const QUrl& url)
{
    return std::make_shared<QtWebSocketConnection>(url, m_scheduler);
}

} // namespace pondra
