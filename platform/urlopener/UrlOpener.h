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

} // namespace pondra
