#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

#include <functional>
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
    HttpResponseSpec(int status_ = 200, QByteArray body_ = {}, QList<QPair<QByteArray, QByteArray>> headers_ = {},
                     bool hang_ = false)
        : status(status_), body(std::move(body_)), headers(std::move(headers_)), hang(hang_)
    {
    }

    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    /// Never answer (for time-outs).
    bool hang = false;
};

/// A loopback HTTP server for tests: a handler decides each answer and every
/// request is recorded.
class MiniHttpServer final : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<HttpResponseSpec(const HttpRequestHead&)>;

    explicit MiniHttpServer(QObject* parent = nullptr);
    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    QUrl url(const QString& path) const;
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    const QList<HttpRequestHead>& requests() const { return m_requests; }

    static QByteArray reasonPhrase(int status);
    static QByteArray serialize(const HttpResponseSpec& response);

Q_SIGNALS:
    void requestReceived();

private:
    void onNewConnection();

    QTcpServer m_server;
    Handler m_handler;
    QList<HttpRequestHead> m_requests;
};

} // namespace pondra::test
