#pragma once

#include "platform/http/HttpClient.h"

#include <QNetworkAccessManager>

namespace pondra {

/// HttpClient over QNetworkAccessManager.
class QtHttpClient final : public QObject, public HttpClient
{
    Q_OBJECT
public:
    struct Options
    {
        int transferTimeoutMs = 60'000;
        int maxRedirects = 5;
        qint64 maxBodyBytes = 4 * 1024 * 1024;
    };

    explicit QtHttpClient(QObject* parent = nullptr);
    QtHttpClient(Options options, QObject* parent = nullptr);

    void get(const QUrl& url, const QString& apiToken, QObject* context, Callback done) override;
    void postJson(const QUrl& url, const QByteArray& body, const QString& apiToken, QObject* context,
                  Callback done) override;

    /// Whether the "Authorization" header may follow a redirect from `from` to `to`.
    static bool mayCarryAuthorization(const QUrl& from, const QUrl& to);
    /// Whether a redirect from `from` may be followed to `to`: never from
    /// https to a less secure scheme.
    static bool mayFollowRedirect(const QUrl& from, const QUrl& to);

private:
    struct Request;
    void start(std::shared_ptr<Request> request);

    Options m_options;
    QNetworkAccessManager m_manager;
};

} // namespace pondra
