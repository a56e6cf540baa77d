#include "MiniHttpServer.h"

#include <QTcpSocket>

namespace pondra::test {

bool HttpRequestReader::feed(const QByteArray& bytes)
{
    if (m_complete || m_malformed)
        return m_complete;
    m_raw += bytes;
    if (m_headEnd < 0) {
        const qsizetype end = m_raw.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_raw.size() > 64 * 1024)
                m_malformed = true;
            return false;
        }
        m_headEnd = end + 4;
        const QList<QByteArray> lines = m_raw.left(end).split('\n');
        const QList<QByteArray> start = lines.value(0).trimmed().split(' ');
        if (start.size() < 3) {
            m_malformed = true;
            return false;
        }
        m_request.method = start[0];
        m_request.target = start[1];
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            m_request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
        }
        m_contentLength = m_request.headers.value("content-length", "0").toLongLong();
    }
    if (m_raw.size() - m_headEnd < m_contentLength)
        return false;
    m_request.body = m_raw.mid(m_headEnd, m_contentLength);
    m_complete = true;
    return true;
}

MiniHttpServer::MiniHttpServer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &MiniHttpServer::onNewConnection);
}

bool MiniHttpServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl MiniHttpServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

QByteArray MiniHttpServer::reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

QByteArray MiniHttpServer::serialize(const HttpResponseSpec& response)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    bool hasType = false;
    for (const auto& [name, value] : response.headers) {
        out += name + ": " + value + "\r\n";
        hasType = hasType || name.toLower() == "content-type";
    }
    if (!hasType)
        out += "Content-Type: application/json\r\n";
    out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n\r\n";
    out += response.body;
    return out;
}

void MiniHttpServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        auto reader = std::make_shared<HttpRequestReader>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, reader] {
            if (!reader->feed(socket->readAll()))
                return;
            m_requests.append(reader->request());
            const HttpResponseSpec response = m_handler ? m_handler(reader->request()) : HttpResponseSpec{};
            Q_EMIT requestReceived();
            if (response.hang)
                return;
            socket->write(serialize(response));
            socket->disconnectFromHost();
        });
    }
}

} // namespace pondra::test
