#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace pondra {

/// What the network looks like right now.
struct NetworkPath
{
    bool satisfied = true;
    /// Names of the interfaces that carry traffic, as the system calls them.
    QStringList interfaceNames;

    bool operator==(const NetworkPath&) const = default;
};

/**
 * Watches whether the machine can reach the network. After `start()` the
 * handler gets the current path once (on a later turn of the main loop) and
 * then again at every change, always on the main thread.
 */
class PathMonitor
{
public:
    using Handler = std::function<void(const NetworkPath&)>;

    virtual ~PathMonitor() = default;
    virtual void start(Handler handler) = 0;
};

/// For tests: the test reports paths by hand.
class FakePathMonitor final : public PathMonitor
{
public:
    void start(Handler handler) override { m_handler = std::move(handler); }
    bool isStarted() const { return bool(m_handler); }
    void report(const NetworkPath& path)
    {
        if (m_handler)
            m_handler(path);
    }

private:
    Handler m_handler;
};

} // namespace pondra
