#pragma once

#include "TestProcesses.h"

#include <QString>

namespace pondra::test {

/**
 * A private Xvfb server on a display number of its own (-displayfd), started
 * with -noreset so that it keeps its state when its last client leaves.
 */
class XvfbServer final
{
public:
    bool start();
    /// ":N", the value for DISPLAY.
    QString display() const { return m_display; }
    /// Runs an X client (e.g. xdotool) on this display and waits for it; true when it exits with 0.
    bool run(const QString& program, const QStringList& arguments, int timeoutMs = 10'000) const;

private:
    ManagedProcess m_server;
    QString m_display;
};

} // namespace pondra::test
