#include "platform/idle/IdleSource.h"

#include "platform/idle/DBusIdleSource.h"
#include "platform/idle/X11IdleSource.h"

#include <QProcessEnvironment>

namespace pondra {

bool isWaylandSession(const QProcessEnvironment& environment)
{
    return environment.value(QStringLiteral("XDG_SESSION_TYPE")) == QLatin1String("wayland") ||
           !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty();
}

std::unique_ptr<IdleSource> makeSystemIdleSource()
{
    if (isWaylandSession(QProcessEnvironment::systemEnvironment()))
        return std::make_unique<DBusIdleSource>();
    return std::make_unique<X11IdleSource>();
}

} // namespace pondra
