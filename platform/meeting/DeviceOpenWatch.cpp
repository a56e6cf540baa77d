#include "platform/meeting/DeviceOpenWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace pondra {

namespace {

// Reads and ioctls on an open node are not asked for: a streaming camera
// would flood the queue, and they cannot make a new holder.
constexpr uint32_t watchedEvents = IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_DELETE_SELF | IN_MOVE_SELF;

} // namespace

DeviceOpenWatch::DeviceOpenWatch() : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

DeviceOpenWatch::~DeviceOpenWatch()
{
    if (m_fd >= 0)
        close(m_fd);
}

bool DeviceOpenWatch::drainEvents()
{
    bool changed = false;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = read(m_fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return changed;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += ssize_t(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                changed = true;
                continue;
            }
            // Late events of a watch taken off below belong to a node no longer asked about.
            const auto ours = [&](const auto& entry) { return entry.second == event->wd; };
            if (std::none_of(m_watches.begin(), m_watches.end(), ours))
                continue;
            changed = true;
            if (event->mask & IN_IGNORED)
                std::erase_if(m_watches, ours); // the kernel dropped it: the node is gone
        }
    }
}

bool DeviceOpenWatch::quietSinceLastCall(const QByteArray& folder, const std::vector<QByteArray>& names)
{
    if (m_fd < 0)
        return false;
    // Events first: whatever happens after this point is seen at the next call.
    bool quiet = !drainEvents();
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        if (std::find(names.begin(), names.end(), it->first) == names.end()) {
            inotify_rm_watch(m_fd, it->second);
            it = m_watches.erase(it);
        } else {
            ++it;
        }
    }
    for (const QByteArray& name : names) {
        if (m_watches.count(name))
            continue;
        // A node watched only from now on may already be held: not quiet.
        quiet = false;
        const int wd = inotify_add_watch(m_fd, (folder + '/' + name).constData(), watchedEvents);
        if (wd >= 0)
            m_watches.emplace(name, wd);
    }
    return quiet;
}

} // namespace pondra
