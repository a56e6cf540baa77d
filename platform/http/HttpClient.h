#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace pondra {

struct HttpReply
{
    /// The HTTP status; none when the request failed at the transport level.
    std::optional<int> status;
    QByteArray body;
    /// Description of a transport failure; empty otherwise.
    QString errorText;
};

/**
 * JSON over HTTP for the server connection and the ring manager. Requests
 * carry a "Pondra/<version>" user agent and, for a usable API token, the
 * "Authorization: Bearer" header. Replies arrive on the main thread, and only
 * while `context` lives.
 */
class HttpClient
{
public:
    using Callback = std::function<void(const HttpReply&)>;

    virtual ~HttpClient() = default;
    virtual void get(const QUrl& url, const QString& apiToken, QObject* context, Callback done) = 0;
    /// POSTs `body` with "Content-Type: application/json".
    virtual void postJson(const QUrl& url, const QByteArray& body, const QString& apiToken, QObject* context,
                          Callback done) = 0;
};

} // namespace pondra
