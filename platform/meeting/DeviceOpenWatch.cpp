#include "platform/meeting/DeviceOpenWatch.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace pondra {

namespace {

// Reads and ioctls on an open node are not asked for: a streaming camera
// would flood the queue, and they cannot make a new holder.
constexpr uint32_t watchedEvents =
    IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_DELETE_SELF | IN_MOVE_SELF;

} // namespace

DeviceOpenWatch::DeviceOpenWatch(bool useInotify)
    : m_fd(useInotify ? inotify_init1(IN_NONBLOCK | IN_CLOEXEC) : -1)
{
}

DeviceOpenWatch::~DeviceOpenWatch()
{
    if (m_fd >= 0)
        close(m_fd);
}

void DeviceOpenWatch::drainEvents(NodeChanges& changes)
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                changes.unknown = true;
                continue;
            }
            // Late events of a watch taken off below belong to a node no longer asked about.
            const auto ours = [&](const auto& entry) { return entry.second.descriptor == event->wd; };
            const auto watch = std::find_if(m_watches.begin(), m_watches.end(), ours);
            if (watch == m_watches.end())
                continue;
            changes.nodes.insert(watch->first);
            if (event->mask & IN_IGNORED)
                m_watches.erase(watch); // the kernel dropped it: the node is gone
        }
    }
}

NodeChanges DeviceOpenWatch::changesSinceLastCall(const QByteArray& folder,
                                                  const std::vector<QByteArray>& names)
{
    NodeChanges changes;
    if (m_fd < 0) {
        changes.unknown = true;
        return changes;
    }
    // Events first: whatever happens after this point is seen at the next call.
    drainEvents(changes);
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        if (std::find(names.begin(), names.end(), it->first) == names.end()) {
            inotify_rm_watch(m_fd, it->second.descriptor);
            it = m_watches.erase(it);
        } else {
            ++it;
        }
    }
    for (const QByteArray& name : names) {
        const QByteArray path = folder + '/' + name;
        // Looked at before the watch is taken: a node made again in between
        // then differs at the next call, which is the safe side.
        struct stat st = {};
        const bool exists = stat(path.constData(), &st) == 0;
        const auto watched = m_watches.find(name);
        if (watched != m_watches.end()) {
            if (exists && watched->second.device == st.st_dev && watched->second.inode == st.st_ino)
                continue;
            // Another node under the same name: the old watch sees nothing of it.
            inotify_rm_watch(m_fd, watched->second.descriptor);
            m_watches.erase(watched);
        }
        // A node watched only from now on may already be held.
        changes.nodes.insert(name);
        if (!exists)
            continue;
        const int wd = inotify_add_watch(m_fd, path.constData(), watchedEvents);
        if (wd >= 0)
            m_watches[name] = Watch{wd, st.st_dev, st.st_ino};
    }
    return changes;
}

} // namespace pondra
