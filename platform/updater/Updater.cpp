#include "platform/updater/Updater.h"

#include "platform/http/QtHttpClient.h"
#include "platform/updater/FeedUpdater.h"

#include "UpdateFeed.h"

namespace pondra {

std::unique_ptr<Updater> makeDefaultUpdater()
{
    return std::make_unique<FeedUpdater>(QUrl(QString::fromUtf8(updateFeedUrl), QUrl::StrictMode),
                                         std::make_shared<QtHttpClient>(), RealScheduler::instance(),
                                         QVersionNumber::fromString(QLatin1String(PONDRA_VERSION)));
}

} // namespace pondra
