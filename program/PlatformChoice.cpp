#include "program/PlatformChoice.h"

#include "platform/core/Log.h"

#include <QGuiApplication>

namespace pondra {

namespace {
constexpr char platformVariable[] = "QT_QPA_PLATFORM";
} // namespace

PlatformChoice::PlatformChoice()
{
    if (!qEnvironmentVariableIsEmpty("DISPLAY") && !qEnvironmentVariableIsSet(platformVariable)) {
        qputenv(platformVariable, "xcb");
        m_forced = true;
    }
}

PlatformChoice::~PlatformChoice()
{
    if (m_forced)
        qunsetenv(platformVariable);
}

bool PlatformChoice::overlaysAvailable()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb"))
        return true;
    logInfo(lcApp,
            "The %s platform cannot place windows on the screen: running without the ring glow and bubble",
            platform);
    return false;
}

} // namespace pondra
