#pragma once

#include <QUrl>

namespace pondra {

/**
 * Hands a link to the user's default handler for it, normally the browser.
 * Whether the handler managed to open it is not reported.
 */
class UrlOpener
{
public:
    virtual ~UrlOpener() = default;
    virtual void open(const QUrl& url) = 0;
};

/// Whether `url` is a web page that may be handed to the browser: http or
/// https with a host. Links that others choose (peers, feeds) pass this first.
bool isWebLink(const QUrl& url);

} // namespace pondra
