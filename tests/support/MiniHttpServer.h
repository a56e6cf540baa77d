#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace pondra::test {

/// One HTTP/1.1 request as read off the wire.
struct HttpRequestHead
{
    QByteArray method;
    QByteArray target;
    /// Header names in lower case.
    QHash<QByteArray, QByteArray> headers;
    QByteArray body;
};

/// Reads one request from bytes that arrive in pieces.
class HttpRequestReader
{
public:
    /// Appends bytes; returns true once a whole request (head and body) is there.
    bool feed(const QByteArray& bytes);
    bool isComplete() const { return m_complete; }
    bool isMalformed() const { return m_malformed; }
    const HttpRequestHead& request() const { return m_request; }
    /// Bytes after the end of the head (for protocol upgrades).
    QByteArray rawHead() const { return m_raw.left(m_headEnd); }

private:
    QByteArray m_raw;
    qsizetype m_headEnd = -1;
    qsizetype m_contentLength = 0;
    bool m_complete = false;
    bool m_malformed = false;
    HttpRequestHead m_request;
};

struct HttpResponseSpec
{
    /// How the answer ends: whole, or broken off after its head.
    enum class Ending
    {
        Whole,
        CutAfterHalfTheBody,
        StallAfterHead
    };

    HttpResponseSpec(int status_ = 200, QByteArray body_ = {},
                     QList<QPair<QByteArray, QByteArray>> headers_ = {}, bool hang_ = false,
                     Ending ending_ = Ending::Whole)
        : status(status_), body(std::move(body_)), headers(std::move(headers_)), hang(hang_), ending(ending_)
    {
    }

    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    /// Never answer (for time-outs).
    bool hang = false;
    /// Cut: the connection closes after the head and half the body. Stall:
    /// the head goes out, then nothing more.
    Ending ending = Ending::Whole;
};

/// A certificate for "127.0.0.1" and its key, made fresh by the openssl tool.
struct TestCertificate
{
    QSslCertificate certificate;
    QSslKey key;

    /// None when the tool is missing or fails.
    static std::optional<TestCertificate> make();
    /// Makes every later TLS connection of this process trust it.
    void trustInThisProcess() const;
};

/// A loopback HTTP server for tests: a handler decides each answer and every
/// request is recorded. With a certificate it speaks HTTPS.
class MiniHttpServer final : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<HttpResponseSpec(const HttpRequestHead&)>;

    explicit MiniHttpServer(QObject* parent = nullptr);
    ~MiniHttpServer() override;
    bool listen();
    bool listenTls(const TestCertificate& certificate);
    quint16 port() const { return m_server->serverPort(); }
    QUrl url(const QString& path) const;
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    const QList<HttpRequestHead>& requests() const { return m_requests; }

    static QByteArray reasonPhrase(int status);
    static QByteArray serialize(const HttpResponseSpec& response);

Q_SIGNALS:
    void requestReceived();

private:
    void onNewConnection();

    std::unique_ptr<QTcpServer> m_server;
    bool m_tls = false;
    Handler m_handler;
    QList<HttpRequestHead> m_requests;
};

} // namespace pondra::test
