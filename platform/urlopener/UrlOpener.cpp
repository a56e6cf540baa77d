#include "platform/urlopener/UrlOpener.h"

namespace pondra {

bool isWebLink(const QUrl& url)
{
    return url.isValid() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
           !url.host().isEmpty();
}

} // namespace pondra
