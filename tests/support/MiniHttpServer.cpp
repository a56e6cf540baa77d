#include "MiniHttpServer.h"

#include <QFile>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>

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

std::optional<TestCertificate> TestCertificate::make()
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return std::nullopt;
    const QString certPath = dir.filePath(QStringLiteral("cert.pem"));
    const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"), keyPath,
                   QStringLiteral("-out"), certPath});
    if (!openssl.waitForFinished(30'000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0)
        return std::nullopt;
    QFile certFile(certPath);
    QFile keyFile(keyPath);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return std::nullopt;
    TestCertificate made{QSslCertificate(certFile.readAll(), QSsl::Pem),
                         QSslKey(keyFile.readAll(), QSsl::Ec)};
    if (made.certificate.isNull() || made.key.isNull())
        return std::nullopt;
    return made;
}

void TestCertificate::trustInThisProcess() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificate(certificate);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

MiniHttpServer::MiniHttpServer(QObject* parent) : QObject(parent) {}

MiniHttpServer::~MiniHttpServer() = default;

bool MiniHttpServer::listen()
{
    m_server = std::make_unique<QTcpServer>();
    m_tls = false;
    connect(m_server.get(), &QTcpServer::newConnection, this, &MiniHttpServer::onNewConnection);
    return m_server->listen(QHostAddress::LocalHost, 0);
}

bool MiniHttpServer::listenTls(const TestCertificate& certificate)
{
    auto server = std::make_unique<QSslServer>();
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate.certificate);
    configuration.setPrivateKey(certificate.key);
    server->setSslConfiguration(configuration);
    m_server = std::move(server);
    m_tls = true;
    // A connection is handed out once its handshake is done.
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &MiniHttpServer::onNewConnection);
    return m_server->listen(QHostAddress::LocalHost, 0);
}

QUrl MiniHttpServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                    .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(port())
                    .arg(path));
}

QByteArray MiniHttpServer::reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

QByteArray MiniHttpServer::serialize(const HttpResponseSpec& response)
{
    QByteArray out =
        "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
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
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
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
            const QByteArray whole = serialize(response);
            switch (response.ending) {
            case HttpResponseSpec::Ending::Whole:
                socket->write(whole);
                socket->disconnectFromHost();
                break;
            case HttpResponseSpec::Ending::CutAfterHalfTheBody:
                socket->write(whole.left(whole.size() - response.body.size() + response.body.size() / 2));
                socket->disconnectFromHost();
                break;
            case HttpResponseSpec::Ending::StallAfterHead:
                socket->write(whole.left(whole.size() - response.body.size()));
                break;
            }
        });
    }
}

} // namespace pondra::test
