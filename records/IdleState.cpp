#include "records/IdleState.h"

namespace pondra {

IdleState IdleState::fromString(const QString& text)
{
    if (text == QLatin1String("active"))
        return active;
    if (text == QLatin1String("semiIdle"))
        return semiIdle;
    return idle;
}

IdleState IdleState::fromSeconds(double seconds)
{
    // Written as "under" tests so that a value that compares as neither falls
    // through to idle.
    if (seconds < 600)
        return active;
    if (seconds < 1800)
        return semiIdle;
    return idle;
}

QString IdleState::wireText() const
{
    switch (m_case) {
    case active:
        return QStringLiteral("active");
    case semiIdle:
        return QStringLiteral("semiIdle");
    case idle:
        break;
    }
    return QStringLiteral("idle");
}

} // namespace pondra
