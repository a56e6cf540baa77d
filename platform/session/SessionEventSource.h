#pragma once

#include <QObject>

namespace pondra {

/**
 * Screen lock, screen unlock and wake from sleep, as the desktop session
 * reports them. Each signal is one report; a source that watches several
 * system services reports one event once. Signals arrive on the main thread.
 */
class SessionEventSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    void screenLocked();
    void screenUnlocked();
    void systemWoke();
};

} // namespace pondra
