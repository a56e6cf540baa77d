#pragma once

#include "platform/core/Scheduler.h"
#include "platform/http/HttpClient.h"
#include "platform/updater/Updater.h"

#include <QObject>
#include <QPointer>
#include <QVersionNumber>

#include <memory>

namespace pondra {

/**
 * The updater over a small JSON feed of our own,
 * `{"version": "X.Y.Z", "url": "https://…"}`: each check fetches it once
 * (https only, plain http only on the loopback interface, without the API
 * token, within 10 s) and compares the version offered with the running one.
 * A download link less secure than the feed (http from an https feed) makes
 * the feed unreadable: the user is never sent to a page an attacker on the
 * way could swap. An empty feed address makes an updater that can never
 * check.
 */
class FeedUpdater final : public QObject, public Updater
{
    Q_OBJECT
public:
    static constexpr milliseconds deadline{10'000};

    FeedUpdater(QUrl feedUrl, std::shared_ptr<HttpClient> http, Scheduler& scheduler,
                QVersionNumber runningVersion, QObject* parent = nullptr);

    const ReadOnly<bool>& canCheckForUpdates() const override { return m_canCheck; }
    void checkForUpdates(QObject* context, Callback done) override;

    /// The answer that the feed fetched from `feedUrl` gives for `runningVersion`.
    static UpdateCheckResult readFeed(const QByteArray& body, const QUrl& feedUrl,
                                      const QVersionNumber& runningVersion);

private:
    void finish(const UpdateCheckResult& result);

    QUrl m_feedUrl;
    std::shared_ptr<HttpClient> m_http;
    Scheduler& m_scheduler;
    QVersionNumber m_runningVersion;
    Published<bool> m_canCheck{false};
    /// The running check's own object: replies and the deadline are bound to
    /// it, so whichever comes second finds it gone and does nothing.
    QPointer<QObject> m_check;
    QPointer<QObject> m_context;
    Callback m_done;
};

} // namespace pondra
