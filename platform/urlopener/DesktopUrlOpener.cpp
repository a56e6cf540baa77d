#include "platform/urlopener/DesktopUrlOpener.h"

#include <QDesktopServices>

void pondra::DesktopUrlOpener::open(const QUrl& url)
{
    QDesktopServices::openUrl(url);
}
