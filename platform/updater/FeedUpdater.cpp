#include "platform/updater/FeedUpdater.h"

#include "platform/core/Log.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace pondra {

namespace {

UpdateCheckResult failure(const QString& error)
{
    return {UpdateCheckResult::Kind::failed, {}, {}, error};
}

/// The reasons are shown to the user, so they are in the user's language,
/// as the network's own error texts are.
QString unreadableFeed()
{
    return FeedUpdater::tr("The update feed could not be read");
}

/// "X.Y.Z" and nothing else: digits and dots, no suffix.
std::optional<QVersionNumber> strictVersion(const QString& text)
{
    qsizetype suffixIndex = -1;
    const QVersionNumber version = QVersionNumber::fromString(text, &suffixIndex);
    if (version.isNull() || suffixIndex != text.size())
        return std::nullopt;
    return version;
}

} // namespace

FeedUpdater::FeedUpdater(QUrl feedUrl, std::shared_ptr<HttpClient> http, Scheduler& scheduler,
                         QVersionNumber runningVersion, QObject* parent)
    : QObject(parent), m_feedUrl(std::move(feedUrl)), m_http(std::move(http)), m_scheduler(scheduler),
      m_runningVersion(std::move(runningVersion))
{
    if (m_feedUrl.isEmpty())
        return;
    if (!isSecureUpdateLink(m_feedUrl)) {
        // A build fault, not the user's: say it once and keep the command off.
        logError(lcApp, "Ignoring update feed %s: only https feeds are checked", m_feedUrl);
        return;
    }
    m_canCheck.set(true);
}

UpdateCheckResult FeedUpdater::readFeed(const QByteArray& body, const QUrl& feedUrl,
                                        const QVersionNumber& runningVersion)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return failure(unreadableFeed());
    const QJsonObject feed = document.object();
    const QJsonValue versionValue = feed.value(QLatin1String("version"));
    const QJsonValue urlValue = feed.value(QLatin1String("url"));
    if (!versionValue.isString() || !urlValue.isString())
        return failure(unreadableFeed());
    const std::optional<QVersionNumber> offered = strictVersion(versionValue.toString());
    const QUrl page(urlValue.toString(), QUrl::StrictMode);
    const bool asSecureAsTheFeed =
        page.scheme() == QLatin1String("https") || feedUrl.scheme() == QLatin1String("http");
    if (!offered || !isSecureUpdateLink(page) || !asSecureAsTheFeed)
        return failure(unreadableFeed());
    if (QVersionNumber::compare(*offered, runningVersion) <= 0)
        return {UpdateCheckResult::Kind::upToDate, {}, {}, {}};
    return {UpdateCheckResult::Kind::updateAvailable, offered->toString(), page, {}};
}

void FeedUpdater::checkForUpdates(QObject* context, Callback done)
{
    if (!m_canCheck.get())
        return;
    m_canCheck.set(false);
    m_context = context;
    m_done = std::move(done);
    auto* check = new QObject(this);
    m_check = check;
    m_scheduler.after(deadline, check, [this] { finish(failure(tr("The request timed out"))); });
    // The feed is public: no API token goes with it.
    m_http->get(m_feedUrl, QString(), check, [this](const HttpReply& reply) {
        if (!reply.status) {
            finish(failure(reply.errorText));
            return;
        }
        if (*reply.status != 200) {
            finish(failure(tr("The server answered with status %1").arg(*reply.status)));
            return;
        }
        finish(readFeed(reply.body, m_feedUrl, m_runningVersion));
    });
}

void FeedUpdater::finish(const UpdateCheckResult& result)
{
    // Whichever of the reply and the deadline comes first ends the check; the
    // other is bound to the check's object and never runs.
    delete m_check.data();
    if (result.kind == UpdateCheckResult::Kind::failed)
        logError(lcApp, "Couldn't check for updates: %@", result.error);
    const QPointer<QObject> context = std::exchange(m_context, nullptr);
    Callback done = std::exchange(m_done, {});
    m_canCheck.set(true);
    if (done && context)
        done(result);
}

} // namespace pondra
