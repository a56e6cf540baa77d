#pragma once

#include <QByteArray>

#include <map>
#include <vector>

namespace pondra {

/**
 * Tells whether a set of device nodes was opened or closed by anyone, through
 * inotify. The kernel reports every open and every last close of a node, so a
 * caller that found no holder can trust that answer for as long as this
 * watch stays quiet.
 */
class DeviceOpenWatch final
{
public:
    DeviceOpenWatch();
    ~DeviceOpenWatch();
    DeviceOpenWatch(const DeviceOpenWatch&) = delete;
    DeviceOpenWatch& operator=(const DeviceOpenWatch&) = delete;

    /**
     * Watches exactly the nodes `names` in `folder` from now on. True when
     * every one of them was already watched at the last call and none was
     * opened, closed, moved or removed since. False whenever that cannot be
     * told: a node newly watched or that cannot be watched, a queue overflow,
     * no inotify at all.
     */
    bool quietSinceLastCall(const QByteArray& folder, const std::vector<QByteArray>& names);

private:
    /// Reads every pending event; true when one of them concerns a watched node.
    bool drainEvents();

    int m_fd = -1;
    std::map<QByteArray, int> m_watches; // node name -> watch descriptor
};

} // namespace pondra
