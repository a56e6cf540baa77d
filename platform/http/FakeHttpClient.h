#pragma once

#include "platform/http/HttpClient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPointer>

namespace pondra {

/// Records requests; the test answers them by hand.
class FakeHttpClient final : public HttpClient
{
public:
    struct Request
    {
        QByteArray method;
        QUrl url;
        QByteArray body;
        QString apiToken;
        QPointer<QObject> context;
        Callback done;

        QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    };

    void get(const QUrl& url, const QString& apiToken, QObject* context, Callback done) override
    {
        m_requests.append({"GET", url, {}, apiToken, context, std::move(done)});
    }
    void postJson(const QUrl& url, const QByteArray& body, const QString& apiToken, QObject* context,
                  Callback done) override
    {
        m_requests.append({"POST", url, body, apiToken, context, std::move(done)});
    }

    QList<Request>& requests() { return m_requests; }
    const QList<Request>& requests() const { return m_requests; }
    /// Answers request `index` once, as the network would, if its context still lives.
    void answer(qsizetype index, const HttpReply& reply)
    {
        Request& request = m_requests[index];
        if (request.done && request.context)
            std::exchange(request.done, {})(reply);
    }
    /// The same, a transport failure when `status` is none.
    void answer(qsizetype index, std::optional<int> status, const QByteArray& body = {}, const QString& error = {})
    {
        answer(index, HttpReply{status, body, error});
    }
    int count(const QByteArray& method) const
    {
        int n = 0;
        for (const auto& r : m_requests)
            n += r.method == method ? 1 : 0;
        return n;
    }

private:
    QList<Request> m_requests;
};

} // namespace pondra
