#pragma once

#include "platform/urlopener/UrlOpener.h"

#include <QList>

namespace pondra {

/// Records every link it is asked to open.
class FakeUrlOpener final : public UrlOpener
{
public:
    void open(const QUrl& url) override { opened << url; }

    QList<QUrl> opened;
};

} // namespace pondra
