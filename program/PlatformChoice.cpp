#include "program/PlatformChoice.h"

#include "platform/core/Log.h"

#include <QGuiApplication>

namespace pondra {

namespace {
constexpr char platformVariable[] = "QT_QPA_PLATFORM";
constexpr char noSharedMemoryVariable[] = "QT_XCB_NO_MITSHM";
} // namespace

PlatformChoice::PlatformChoice()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    setUnlessSet(platformVariable, "xcb");
    // The windows are small and mostly still; what repaints steadily is a few
    // lines of text 25 times a second. Through shared memory each of those
    // paints first waits on a round trip to the X server (the server must have
    // read the memory before it is written again), which costs more than
    // sending the few kilobytes in the request itself.
    setUnlessSet(noSharedMemoryVariable, "1");
}

PlatformChoice::~PlatformChoice()
{
    for (const char* name : m_set)
        qunsetenv(name);
}

void PlatformChoice::setUnlessSet(const char* name, const QByteArray& value)
{
    if (qEnvironmentVariableIsSet(name))
        return;
    qputenv(name, value);
    m_set.push_back(name);
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
