#include "platform/http/QtHttpClient.h"

#include "platform/http/ApiToken.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

namespace pondra {

namespace {
/// Whether the reply came to its end: no error, or only the error Qt names
/// for the HTTP status it carries. A connection lost or timed out after the
/// status line is a failed transfer, whatever the status said.
bool transferCompleted(QNetworkReply::NetworkError error)
{
    const int code = int(error);
    return error == QNetworkReply::NoError || error == QNetworkReply::ProtocolInvalidOperationError ||
           (code >= QNetworkReply::ContentAccessDenied && code <= QNetworkReply::UnknownContentError) ||
           (code >= QNetworkReply::InternalServerError && code <= QNetworkReply::UnknownServerError);
}
} // namespace

struct QtHttpClient::Request
{
    QByteArray method;
    QUrl url;
    QByteArray body;
    QString apiToken;
    bool sendAuthorization = true;
    int redirects = 0;
    QPointer<QObject> context;
    bool hasContext = false;
    Callback done;

    void finish(const HttpReply& reply) const
    {
        if (hasContext && !context)
            return;
        done(reply);
    }
};

QtHttpClient::QtHttpClient(QObject* parent) : QtHttpClient(Options{}, parent) {}

QtHttpClient::QtHttpClient(Options options, QObject* parent) : QObject(parent), m_options(options)
{
    // Redirects are followed by hand so the Authorization header can be
    // withheld from other origins.
    m_manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

void QtHttpClient::get(const QUrl& url, const QString& apiToken, QObject* context, Callback done)
{
    start(std::make_shared<Request>(
        Request{"GET", url, {}, apiToken, true, 0, context, context != nullptr, std::move(done)}));
}

void QtHttpClient::postJson(const QUrl& url, const QByteArray& body, const QString& apiToken,
                            QObject* context, Callback done)
{
    start(std::make_shared<Request>(
        Request{"POST", url, body, apiToken, true, 0, context, context != nullptr, std::move(done)}));
}

bool QtHttpClient::mayCarryAuthorization(const QUrl& from, const QUrl& to)
{
    auto defaultPort = [](const QUrl& u) { return u.scheme() == QLatin1String("https") ? 443 : 80; };
    if (from.host().compare(to.host(), Qt::CaseInsensitive) != 0)
        return false;
    const int fromPort = from.port(defaultPort(from));
    const int toPort = to.port(defaultPort(to));
    if (from.scheme() == to.scheme())
        return fromPort == toPort;
    // The https form of the same address: same port, or both on their defaults.
    if (from.scheme() == QLatin1String("http") && to.scheme() == QLatin1String("https"))
        return fromPort == toPort || (fromPort == 80 && toPort == 443);
    return false;
}

bool QtHttpClient::mayFollowRedirect(const QUrl& from, const QUrl& to)
{
    return from.scheme() != QLatin1String("https") || to.scheme() == QLatin1String("https");
}

void QtHttpClient::start(std::shared_ptr<Request> request)
{
    if (!request->url.isValid() || request->url.isRelative() ||
        (request->url.scheme() != QLatin1String("http") && request->url.scheme() != QLatin1String("https"))) {
        const HttpReply failure{
            std::nullopt, {}, QStringLiteral("Invalid URL: %1").arg(request->url.toString())};
        QMetaObject::invokeMethod(
            this, [request, failure] { request->finish(failure); }, Qt::QueuedConnection);
        return;
    }

    QNetworkRequest netRequest(request->url);
    netRequest.setTransferTimeout(m_options.transferTimeoutMs);
    netRequest.setHeader(QNetworkRequest::UserAgentHeader, QByteArray("Pondra/" PONDRA_VERSION));
    if (request->sendAuthorization && isUsableApiToken(request->apiToken))
        netRequest.setRawHeader("Authorization", bearerHeaderValue(request->apiToken));
    if (request->method == "POST")
        netRequest.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));

    QNetworkReply* reply =
        request->method == "POST" ? m_manager.post(netRequest, request->body) : m_manager.get(netRequest);
    auto body = std::make_shared<QByteArray>();
    auto tooLarge = std::make_shared<bool>(false);
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, body, tooLarge] {
        if (*tooLarge)
            return;
        body->append(reply->readAll());
        if (body->size() > m_options.maxBodyBytes) {
            *tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, body, tooLarge, request] {
        reply->deleteLater();
        if (*tooLarge) {
            request->finish({std::nullopt,
                             {},
                             QStringLiteral("Reply body exceeds %1 bytes").arg(m_options.maxBodyBytes)});
            return;
        }
        // An aborted reply (timed out) is closed and has nothing more to read.
        if (reply->isOpen())
            body->append(reply->readAll());
        const QVariant statusAttr = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (!statusAttr.isValid() || !transferCompleted(reply->error())) {
            request->finish({std::nullopt, {}, reply->errorString()});
            return;
        }
        const int status = statusAttr.toInt();
        const QByteArray location = reply->rawHeader("Location");
        const bool isRedirect =
            status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
        if (isRedirect && !location.isEmpty()) {
            if (request->redirects >= m_options.maxRedirects) {
                request->finish({std::nullopt, {}, QStringLiteral("Too many redirects")});
                return;
            }
            const QUrl target = request->url.resolved(QUrl::fromEncoded(location, QUrl::StrictMode));
            // Never from https to anything less: the body (e-mail, photo)
            // would travel in clear text.
            if (!mayFollowRedirect(request->url, target)) {
                request->finish({std::nullopt,
                                 {},
                                 QStringLiteral("Refused redirect from https to %1").arg(target.scheme())});
                return;
            }
            auto next = std::make_shared<Request>(*request);
            next->redirects = request->redirects + 1;
            next->sendAuthorization =
                request->sendAuthorization && mayCarryAuthorization(request->url, target);
            next->url = target;
            if (status == 303 || ((status == 301 || status == 302) && request->method == "POST")) {
                next->method = "GET";
                next->body.clear();
            }
            start(next);
            return;
        }
        request->finish({status, *body, {}});
    });
}

} // namespace pondra
