#include "platform/updater/Updater.h"

#include "platform/http/QtHttpClient.h"
#include "platform/updater/FeedUpdater.h"

#include "UpdateFeed.h"

#include <QHostAddress>

namespace pondra {

bool isSecureUpdateLink(const QUrl& url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    const QString host = url.host();
    return url.scheme() == QLatin1String("http") &&
           (host == QLatin1String("localhost") || QHostAddress(host).isLoopback());
}

std::unique_ptr<Updater> makeDefaultUpdater()
{
    return std::make_unique<FeedUpdater>(QUrl(QString::fromUtf8(updateFeedUrl), QUrl::StrictMode),
                                         std::make_shared<QtHttpClient>(), RealScheduler::instance(),
                                         QVersionNumber::fromString(QLatin1String(PONDRA_VERSION)));
}

} // namespace pondra
