#include "TeamServer.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUrlQuery>

#include <cstdio>
#include <unistd.h>

namespace pondra::teamserver {

namespace {

constexpr char webSocketGuid[] = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 101: return "Switching Protocols";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray errorBody(const char* text)
{
    return compact({{QStringLiteral("error"), QString::fromLatin1(text)}});
}

} // namespace

TeamServer::TeamServer(QString token, QObject* parent) : QObject(parent), m_token(std::move(token))
{
    m_clock.start();
}

bool TeamServer::listen(quint16 port)
{
    auto* v4 = new QTcpServer(this);
    if (!v4->listen(QHostAddress::LocalHost, port))
        return false;
    m_port = v4->serverPort();
    m_servers.append(v4);
    // "localhost" may resolve to ::1 first; answer there too when the system has it.
    auto* v6 = new QTcpServer(this);
    if (v6->listen(QHostAddress::LocalHostIPv6, m_port))
        m_servers.append(v6);
    else
        delete v6;
    for (QTcpServer* server : std::as_const(m_servers))
        connect(server, &QTcpServer::newConnection, this, [this, server] { onNewConnection(server); });
    event(QStringLiteral("listening"), {{QStringLiteral("port"), int(m_port)}});
    return true;
}

void TeamServer::watchCommands(int fd)
{
    m_commandFd = fd;
    m_commands = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_commands.get(), &QSocketNotifier::activated, this, &TeamServer::onCommandReadable);
}

void TeamServer::event(const QString& name, QJsonObject fields)
{
    fields.insert(QStringLiteral("event"), name);
    fields.insert(QStringLiteral("t"), double(m_clock.elapsed()));
    const QByteArray line = compact(fields) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

void TeamServer::onNewConnection(QTcpServer* server)
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        Connection* raw = connection.get();
        m_connections.push_back(std::move(connection));
        connect(socket, &QTcpSocket::readyRead, this, [this, raw] { onReadyRead(raw); });
        connect(socket, &QTcpSocket::disconnected, this, [this, raw] {
            if (raw->isWebSocket)
                event(QStringLiteral("ws-disconnected"));
            raw->isWebSocket = false;
            // Later: the code that caused the disconnection may still hold the connection.
            QMetaObject::invokeMethod(this, [this, raw] { drop(raw); }, Qt::QueuedConnection);
        });
    }
}

void TeamServer::drop(Connection* connection)
{
    if (connection->socket)
        connection->socket->deleteLater();
    std::erase_if(m_connections, [connection](const auto& c) { return c.get() == connection; });
}

void TeamServer::onReadyRead(Connection* connection)
{
    if (!connection->socket)
        return;
    connection->buffer += connection->socket->readAll();
    if (connection->isWebSocket) {
        readFrames(connection);
        return;
    }
    if (connection->stalled)
        return;
    const qsizetype headEnd = connection->buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QList<QByteArray> lines = connection->buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    QHash<QByteArray, QByteArray> headers;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    const qsizetype length = headers.value("content-length", "0").toLongLong();
    if (connection->buffer.size() < headEnd + 4 + length)
        return;
    const QByteArray body = connection->buffer.mid(headEnd + 4, length);
    connection->buffer.remove(0, headEnd + 4 + length);
    handleHttp(connection, requestLine.value(0), requestLine.value(1), headers, body);
}

void TeamServer::handleHttp(Connection* connection, const QByteArray& method, const QByteArray& target,
                            const QHash<QByteArray, QByteArray>& headers, const QByteArray& body)
{
    QJsonObject headerObject;
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        headerObject.insert(QString::fromLatin1(it.key()), QString::fromLatin1(it.value()));
    const QString path = QUrl(QString::fromLatin1(target)).path();
    if (headers.value("upgrade").toLower() == "websocket") {
        upgrade(connection, target, headers);
        return;
    }
    event(QStringLiteral("http"), {{QStringLiteral("method"), QString::fromLatin1(method)},
                                   {QStringLiteral("target"), QString::fromLatin1(target)},
                                   {QStringLiteral("headers"), headerObject},
                                   {QStringLiteral("body"), QString::fromUtf8(body)}});
    if (auto it = m_overrides.constFind(path.toUtf8()); it != m_overrides.cend()) {
        respond(connection, it->status, it->body);
        return;
    }
    if (!m_token.isEmpty() && headers.value("authorization") != "Bearer " + m_token.toUtf8()) {
        respond(connection, 401, errorBody("Unauthorized"));
        return;
    }
    const QJsonObject request = QJsonDocument::fromJson(body).object();
    if (method == "GET" && path == QLatin1String("/pondra/teams")) {
        QStringList teams = m_teams;
        for (const QJsonObject& record : std::as_const(m_records)) {
            const QString team = record.value(QStringLiteral("team")).toString();
            if (!team.isEmpty() && !teams.contains(team))
                teams.append(team);
        }
        respond(connection, 200, QJsonDocument(QJsonArray::fromStringList(teams)).toJson(QJsonDocument::Compact));
    } else if (method == "POST" && path == QLatin1String("/pondra/update")) {
        const QString id = request.value(QStringLiteral("id")).toString();
        if (id.isEmpty()) {
            respond(connection, 400, errorBody("Missing id"));
            return;
        }
        QJsonObject record = request;
        record.insert(QStringLiteral("lastUpdate"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
        m_records.insert(id, record);
        respond(connection, 200, compact({{QStringLiteral("ok"), true}}));
        broadcastUsers(record.value(QStringLiteral("team")).toString());
    } else if (method == "POST"
               && (path == QLatin1String("/pondra/ring") || path == QLatin1String("/pondra/ring-response"))) {
        const bool isRing = path == QLatin1String("/pondra/ring");
        const QString to = request.value(QStringLiteral("to")).toString();
        if (request.value(QStringLiteral("from")).toString().isEmpty() || to.isEmpty()) {
            respond(connection, 400, errorBody("Missing from or to"));
            return;
        }
        QJsonObject frame = request;
        frame.insert(QStringLiteral("type"), isRing ? QStringLiteral("ring") : QStringLiteral("ring-response"));
        if (routeRing(frame, to) == 0) {
            respond(connection, 404, errorBody("User not connected"));
            return;
        }
        respond(connection, 200, compact({{QStringLiteral("ok"), true},
                                          {QStringLiteral("url"), request.value(QStringLiteral("url"))}}));
    } else {
        respond(connection, 404, errorBody("Not found"));
    }
}

int TeamServer::routeRing(const QJsonObject& frame, const QString& to)
{
    // The sockets of the addressee are those joined to a team in which a record carries that name.
    QStringList teams;
    for (const QJsonObject& record : std::as_const(m_records)) {
        if (record.value(QStringLiteral("name")).toString() == to)
            teams.append(record.value(QStringLiteral("team")).toString());
    }
    int sent = 0;
    const QByteArray text = compact(frame);
    for (const auto& connection : m_connections) {
        if (connection->isWebSocket && connection->team && teams.contains(*connection->team)) {
            sendFrame(connection.get(), 1, text);
            ++sent;
        }
    }
    return sent;
}

void TeamServer::respond(Connection* connection, int status, const QByteArray& body)
{
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    response += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n\r\n" + body;
    connection->socket->write(response);
    connection->socket->disconnectFromHost();
}

void TeamServer::upgrade(Connection* connection, const QByteArray& target, const QHash<QByteArray, QByteArray>& headers)
{
    QJsonObject headerObject;
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        headerObject.insert(QString::fromLatin1(it.key()), QString::fromLatin1(it.value()));
    event(QStringLiteral("ws-handshake"),
          {{QStringLiteral("target"), QString::fromLatin1(target)}, {QStringLiteral("headers"), headerObject}});
    if (m_stallHandshake) {
        connection->stalled = true;
        return;
    }
    if (m_refuseHandshakeStatus > 0) {
        respond(connection, m_refuseHandshakeStatus, errorBody("Refused"));
        return;
    }
    const QUrl url(QString::fromLatin1(target));
    if (url.path() != QLatin1String("/pondra/ws")) {
        respond(connection, 404, errorBody("Not found"));
        return;
    }
    const QString token = QUrlQuery(url).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
    if (!m_token.isEmpty() && token != m_token) {
        respond(connection, 401, errorBody("Unauthorized"));
        return;
    }
    const QByteArray accept =
        QCryptographicHash::hash(headers.value("sec-websocket-key") + webSocketGuid, QCryptographicHash::Sha1).toBase64();
    connection->socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                              "Sec-WebSocket-Accept: " + accept + "\r\n\r\n");
    connection->isWebSocket = true;
    event(QStringLiteral("ws-open"), {{QStringLiteral("token"), token}});
    readFrames(connection);
}

void TeamServer::readFrames(Connection* connection)
{
    QByteArray& b = connection->buffer;
    while (b.size() >= 2) {
        const auto b0 = quint8(b[0]);
        const auto b1 = quint8(b[1]);
        qsizetype offset = 2;
        quint64 length = b1 & 0x7f;
        if (length == 126) {
            if (b.size() < 4)
                return;
            length = (quint64(quint8(b[2])) << 8) | quint8(b[3]);
            offset = 4;
        } else if (length == 127) {
            if (b.size() < 10)
                return;
            length = 0;
            for (int i = 0; i < 8; ++i)
                length = (length << 8) | quint8(b[2 + i]);
            offset = 10;
        }
        const bool masked = b1 & 0x80;
        const qsizetype maskOffset = offset;
        if (masked)
            offset += 4;
        if (quint64(b.size()) < quint64(offset) + length)
            return;
        QByteArray payload = b.mid(offset, qsizetype(length));
        if (masked) {
            for (qsizetype i = 0; i < payload.size(); ++i)
                payload[i] = char(payload[i] ^ b[maskOffset + (i % 4)]);
        }
        b.remove(0, offset + qsizetype(length));
        const int opcode = b0 & 0x0f;
        const bool fin = b0 & 0x80;
        if (opcode == 0 || ((opcode == 1 || opcode == 2) && !fin)) {
            if (opcode != 0)
                connection->fragmentOpcode = opcode;
            connection->fragments += payload;
            if (fin) {
                handleWebSocketMessage(connection, connection->fragmentOpcode, std::exchange(connection->fragments, {}));
            }
            continue;
        }
        handleWebSocketMessage(connection, opcode, payload);
        if (!connection->socket || !connection->isWebSocket)
            return;
    }
}

void TeamServer::handleWebSocketMessage(Connection* connection, int opcode, const QByteArray& payload)
{
    switch (opcode) {
    case 1:
    case 2: {
        event(QStringLiteral("ws-message"), {{QStringLiteral("text"), QString::fromUtf8(payload)}});
        const QJsonObject message = QJsonDocument::fromJson(payload).object();
        if (message.value(QStringLiteral("type")).toString() == QLatin1String("join")) {
            connection->team = message.value(QStringLiteral("team")).toString();
            sendFrame(connection, 1, usersMessage(*connection->team));
        }
        return;
    }
    case 8: {
        const int code = payload.size() >= 2 ? (quint8(payload[0]) << 8) | quint8(payload[1]) : 0;
        event(QStringLiteral("ws-close"), {{QStringLiteral("code"), code},
                                           {QStringLiteral("reason"), QString::fromUtf8(payload.mid(2))}});
        sendFrame(connection, 8, payload.left(2));
        connection->isWebSocket = false;
        connection->socket->disconnectFromHost();
        return;
    }
    case 9:
        event(QStringLiteral("ws-ping"));
        if (!m_ignorePings)
            sendFrame(connection, 10, payload);
        return;
    default:
        return;
    }
}

void TeamServer::sendFrame(Connection* connection, int opcode, const QByteArray& payload)
{
    if (!connection->socket)
        return;
    QByteArray frame;
    frame.append(char(0x80 | opcode));
    const quint64 length = quint64(payload.size());
    if (length < 126) {
        frame.append(char(length));
    } else if (length <= 0xffff) {
        frame.append(char(126));
        frame.append(char(length >> 8));
        frame.append(char(length & 0xff));
    } else {
        frame.append(char(127));
        for (int i = 7; i >= 0; --i)
            frame.append(char((length >> (8 * i)) & 0xff));
    }
    connection->socket->write(frame + payload);
}

QByteArray TeamServer::usersMessage(const QString& team) const
{
    QJsonArray data;
    for (const QJsonObject& record : m_records) {
        if (record.value(QStringLiteral("team")).toString() == team)
            data.append(record);
    }
    return compact({{QStringLiteral("type"), QStringLiteral("users")}, {QStringLiteral("data"), data}});
}

void TeamServer::broadcastUsers(const QString& team)
{
    const QByteArray message = usersMessage(team);
    for (const auto& connection : m_connections) {
        if (connection->isWebSocket && connection->team == team)
            sendFrame(connection.get(), 1, message);
    }
}

void TeamServer::onCommandReadable()
{
    char chunk[65536];
    const ssize_t n = ::read(m_commandFd, chunk, sizeof chunk);
    if (n <= 0) {
        // The test that drove us has gone: so do we.
        m_commands.reset();
        QCoreApplication::quit();
        return;
    }
    m_commandBuffer.append(chunk, qsizetype(n));
    qsizetype newline;
    while ((newline = m_commandBuffer.indexOf('\n')) >= 0) {
        const QByteArray line = m_commandBuffer.left(newline);
        m_commandBuffer.remove(0, newline + 1);
        if (!line.trimmed().isEmpty())
            runCommand(QJsonDocument::fromJson(line).object());
    }
}

void TeamServer::runCommand(const QJsonObject& command)
{
    const QString name = command.value(QStringLiteral("cmd")).toString();
    auto webSockets = [this] {
        QList<Connection*> list;
        for (const auto& connection : m_connections) {
            if (connection->isWebSocket)
                list.append(connection.get());
        }
        return list;
    };
    if (name == QLatin1String("refuseHandshake")) {
        m_refuseHandshakeStatus = command.value(QStringLiteral("status")).toInt();
    } else if (name == QLatin1String("stallHandshake")) {
        m_stallHandshake = command.value(QStringLiteral("on")).toBool();
    } else if (name == QLatin1String("ignorePings")) {
        m_ignorePings = command.value(QStringLiteral("on")).toBool();
    } else if (name == QLatin1String("closeSockets")) {
        const int code = command.value(QStringLiteral("code")).toInt(1000);
        QByteArray payload;
        payload.append(char(code >> 8));
        payload.append(char(code & 0xff));
        for (Connection* connection : webSockets()) {
            sendFrame(connection, 8, payload);
            connection->isWebSocket = false;
            connection->socket->disconnectFromHost();
        }
    } else if (name == QLatin1String("dropSockets")) {
        // The TCP connection goes without a closing handshake.
        for (Connection* connection : webSockets()) {
            connection->isWebSocket = false;
            connection->socket->abort();
        }
    } else if (name == QLatin1String("sendFrame")) {
        const int opcode = command.value(QStringLiteral("opcode")).toInt(1);
        QByteArray payload = command.contains(QStringLiteral("base64"))
            ? QByteArray::fromBase64(command.value(QStringLiteral("base64")).toString().toLatin1())
            : command.value(QStringLiteral("text")).toString().toUtf8();
        const qint64 padTo = qint64(command.value(QStringLiteral("padTo")).toDouble());
        if (padTo > payload.size())
            payload.append(QByteArray(padTo - payload.size(), ' '));
        for (Connection* connection : webSockets())
            sendFrame(connection, opcode, payload);
    } else if (name == QLatin1String("respond")) {
        const QByteArray path = command.value(QStringLiteral("path")).toString().toUtf8();
        if (command.value(QStringLiteral("clear")).toBool())
            m_overrides.remove(path);
        else
            m_overrides.insert(path, {command.value(QStringLiteral("status")).toInt(200),
                                      command.value(QStringLiteral("body")).toString().toUtf8()});
    } else if (name == QLatin1String("setTeams")) {
        m_teams.clear();
        for (const QJsonValue& team : command.value(QStringLiteral("teams")).toArray())
            m_teams.append(team.toString());
    } else if (name == QLatin1String("putRecord")) {
        QJsonObject record = command.value(QStringLiteral("record")).toObject();
        m_records.insert(record.value(QStringLiteral("id")).toString(), record);
        broadcastUsers(record.value(QStringLiteral("team")).toString());
    }
    event(QStringLiteral("ack"), {{QStringLiteral("cmd"), name}});
}

} // namespace pondra::teamserver
