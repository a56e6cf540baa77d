#pragma once

#include "platform/core/Scheduler.h"
#include "platform/http/FakeHttpClient.h"
#include "platform/sound/FakeSoundPlayer.h"
#include "platform/urlopener/FakeUrlOpener.h"
#include "rings/RingManager.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

#include <memory>

namespace pondra::test {

/// Forwards to a real client and counts the replies it handed back, so a test
/// knows when the code under test has seen an answer that changes nothing.
class CountingHttpClient final : public HttpClient
{
public:
    explicit CountingHttpClient(HttpClient& inner) : m_inner(inner) {}

    void get(const QUrl& url, const QString& apiToken, QObject* context, Callback done) override
    {
        m_inner.get(url, apiToken, context, wrap(std::move(done)));
    }
    void postJson(const QUrl& url, const QByteArray& body, const QString& apiToken, QObject* context,
                  Callback done) override
    {
        m_inner.postJson(url, body, apiToken, context, wrap(std::move(done)));
    }

    int finished = 0;

private:
    Callback wrap(Callback done)
    {
        return [this, done = std::move(done)](const HttpReply& reply) {
            done(reply);
            ++finished;
        };
    }

    HttpClient& m_inner;
};

/// What a RingManager reads from the rest of the program, as plain fields a
/// test can change between calls.
struct RingInputs
{
    std::optional<QUrl> ringURL = QUrl(QStringLiteral("http://127.0.0.1:9/pondra/ring"));
    std::optional<QUrl> ringResponseURL = QUrl(QStringLiteral("http://127.0.0.1:9/pondra/ring-response"));
    QString userName = QStringLiteral("Ann");
    QString userId = QStringLiteral("5B1E61E4-2C7A-4C43-9D6B-0E3C2B7D9A11");
    QString userEmail;
    std::optional<QImage> photo;
    QString apiToken;

    std::unique_ptr<RingManager> makeManager(RingManager::Backends backends)
    {
        return std::make_unique<RingManager>([this] { return ringURL; }, [this] { return ringResponseURL; },
                                             [this] { return userName; }, [this] { return userId; },
                                             [this] { return userEmail; }, [this] { return photo; },
                                             [this] { return apiToken; }, backends);
    }
};

} // namespace pondra::test
