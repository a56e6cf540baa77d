#pragma once

#include <QByteArray>

#include <sys/types.h>

#include <map>
#include <set>
#include <vector>

namespace pondra {

/// What a DeviceOpenWatch saw since it was last asked.
struct NodeChanges
{
    /// Nothing can be told (no inotify, a queue overflow): every node counts as changed.
    bool unknown = false;
    /// Nodes opened, closed, moved, removed or re-created, and nodes watched
    /// only from now on (they may already be held).
    std::set<QByteArray> nodes;

    bool concerns(const QByteArray& name) const { return unknown || nodes.count(name) > 0; }
};

/**
 * Tells which of a set of device nodes were opened or closed by anyone,
 * through inotify: the kernel reports every open and every last close of a
 * node. Each node is watched by its inode, so a node removed and made again
 * under the same name (a camera plugged in again) counts as changed, also
 * while someone still holds the old one open. A descriptor handed from one
 * process to another (over a socket) opens nothing, so no watch sees that.
 */
class DeviceOpenWatch final
{
public:
    /// `useInotify` false: nothing is watched and every answer is "unknown".
    explicit DeviceOpenWatch(bool useInotify = true);
    ~DeviceOpenWatch();
    DeviceOpenWatch(const DeviceOpenWatch&) = delete;
    DeviceOpenWatch& operator=(const DeviceOpenWatch&) = delete;

    /// Watches exactly the nodes `names` in `folder` from now on, and says
    /// which of them changed since the last call.
    NodeChanges changesSinceLastCall(const QByteArray& folder, const std::vector<QByteArray>& names);

private:
    struct Watch
    {
        int descriptor = -1;
        dev_t device = 0;
        ino_t inode = 0;
    };

    /// Reads every pending event into `changes`.
    void drainEvents(NodeChanges& changes);

    int m_fd = -1;
    std::map<QByteArray, Watch> m_watches; // node name -> its watch
};

} // namespace pondra
