#pragma once

#include "platform/urlopener/UrlOpener.h"

namespace pondra {

/// UrlOpener over QDesktopServices (xdg-open and the desktop's portal).
class DesktopUrlOpener final : public UrlOpener
{
public:
    void open(const QUrl& url) override;
};

} // namespace pondra
