#include "platform/meeting/ProcScanner.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace pondra {

namespace {

class Dir final
{
public:
    explicit Dir(const QByteArray& path) : m_dir(opendir(path.constData())) {}
    ~Dir()
    {
        if (m_dir)
            closedir(m_dir);
    }
    Dir(const Dir&) = delete;
    Dir& operator=(const Dir&) = delete;
    explicit operator bool() const { return m_dir != nullptr; }
    int fd() const { return dirfd(m_dir); }
    dirent* next() { return readdir(m_dir); }

private:
    DIR* m_dir = nullptr;
};

class Fd final
{
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// The entries of a directory fd, read in large batches into a buffer on the
// stack: a fd folder is read once per process per look, and readdir would
// allocate a buffer each time.
template <typename Fn> void forEachEntry(int dirFd, Fn&& fn)
{
    alignas(8) char buffer[16 * 1024];
    for (;;) {
        const long n = syscall(SYS_getdents64, dirFd, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (long at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            if (entry->d_name[0] != '.' && fn(entry->d_name))
                return;
        }
    }
}

bool parsePid(const char* name, qint64* pid)
{
    if (!*name)
        return false;
    qint64 value = 0;
    for (const char* p = name; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
    }
    *pid = value;
    return true;
}

// "<pid>/<leaf>" in `out`, for calls relative to the /proc folder.
const char* pidPath(char (&out)[64], qint64 pid, const char* leaf)
{
    std::snprintf(out, sizeof out, "%lld/%s", static_cast<long long>(pid), leaf);
    return out;
}

QByteArray readLink(int dirFd, const char* name)
{
    char buffer[512];
    const ssize_t n = readlinkat(dirFd, name, buffer, sizeof buffer);
    return n > 0 ? QByteArray(buffer, int(n)) : QByteArray();
}

QByteArray readSmallFile(int dirFd, const char* name)
{
    const int fd = openat(dirFd, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray content;
    char buffer[4096];
    ssize_t n;
    while (content.size() < 64 * 1024 && (n = read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, int(n));
    close(fd);
    return content;
}

QString executableBaseName(QByteArray exe)
{
    if (exe.endsWith(" (deleted)"))
        exe.chop(int(std::strlen(" (deleted)")));
    return QFile::decodeName(exe.mid(exe.lastIndexOf('/') + 1));
}

// Flatpak puts its metadata at the root of every sandbox.
QString flatpakApplicationId(int rootFd, qint64 pid)
{
    char path[64];
    const QByteArray info = readSmallFile(rootFd, pidPath(path, pid, "root/.flatpak-info"));
    if (info.isEmpty())
        return {};
    bool inApplication = false;
    for (const QByteArray& rawLine : info.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('['))
            inApplication = line == "[Application]";
        else if (inApplication && line.startsWith("name="))
            return QString::fromUtf8(line.mid(5));
    }
    return {};
}

constexpr char videoPrefix[] = "/dev/video";
constexpr std::size_t videoPrefixLength = sizeof videoPrefix - 1;

} // namespace

std::optional<bool> isV4l2CaptureNode(const QByteArray& devicePath)
{
    const int fd = open(devicePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    v4l2_capability caps{};
    const bool ok = ioctl(fd, VIDIOC_QUERYCAP, &caps) == 0;
    const int error = errno;
    close(fd);
    if (!ok) {
        // Only "no such request" says what the node is: not a V4L2 device.
        if (error == ENOTTY || error == EINVAL)
            return false;
        return std::nullopt;
    }
    const quint32 deviceCaps =
        (caps.capabilities & V4L2_CAP_DEVICE_CAPS) ? caps.device_caps : caps.capabilities;
    return (deviceCaps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)) != 0;
}

ProcScanner::ProcScanner(QByteArray procRoot, CaptureNodeCheck isCaptureNode,
                         std::optional<QByteArray> devRoot, MonotonicClock clock, bool watchNodes)
    : m_root(std::move(procRoot)), m_isCaptureNode(std::move(isCaptureNode)), m_clock(std::move(clock)),
      m_nodeWatch(watchNodes)
{
    m_devRoot = devRoot ? *devRoot : (m_root == "/proc" ? QByteArray("/dev") : QByteArray());
}

qint64 ProcScanner::nowMs() const
{
    if (m_clock)
        return m_clock();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

ProcScanner::~ProcScanner()
{
    if (m_rootFd >= 0)
        close(m_rootFd);
}

int ProcScanner::rootFd() const
{
    // Opened once: every later call names a process relative to it, so the
    // kernel does not walk the root's path again for each one.
    if (m_rootFd < 0)
        m_rootFd = open(m_root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return m_rootFd;
}

std::vector<qint64> ProcScanner::ownProcessIds() const
{
    std::vector<qint64> pids;
    m_seen.clear();
    const int root = rootFd();
    if (root < 0)
        return pids;
    // The listing reads from its own open file so that each look starts at the top.
    Fd listing(openat(root, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (listing.get() < 0)
        return pids;
    const uid_t me = geteuid();
    forEachEntry(listing.get(), [&](const char* name) {
        qint64 pid = 0;
        struct stat st = {};
        if (parsePid(name, &pid) && fstatat(root, name, &st, 0) == 0 && st.st_uid == me)
            m_seen.push_back({pid, qint64(st.st_ctim.tv_sec), qint64(st.st_ctim.tv_nsec)});
        return false;
    });
    std::sort(m_seen.begin(), m_seen.end(), [](const Seen& a, const Seen& b) { return a.pid < b.pid; });
    pids.reserve(m_seen.size());
    for (const Seen& seen : m_seen)
        pids.push_back(seen.pid);
    return pids;
}

ProcScanner::NodeKind ProcScanner::nodeKind(const QByteArray& devicePath, bool retry, bool* askedNow)
{
    // Capabilities of a node do not change while it exists; ask each node
    // once. A node made again under the same path is another node.
    struct stat st = {};
    const QByteArray key =
        devicePath + '@' +
        (stat(devicePath.constData(), &st) == 0
             ? QByteArray::number(quint64(st.st_dev)) + ':' + QByteArray::number(quint64(st.st_ino)) + ':' +
                   QByteArray::number(quint64(st.st_rdev))
             : QByteArray("gone"));
    const qint64 now = nowMs();
    {
        std::lock_guard lock(m_cacheMutex);
        if (const auto known = m_captureCache.find(key); known != m_captureCache.end())
            return known->second ? NodeKind::Capture : NodeKind::Other;
        if (const auto failed = m_failedChecks.find(key);
            failed != m_failedChecks.end() && !retry && now < failed->second)
            return NodeKind::Unknown;
    }
    const std::optional<bool> capture =
        m_isCaptureNode ? m_isCaptureNode(devicePath) : std::optional<bool>(false);
    if (askedNow)
        *askedNow = true;
    std::lock_guard lock(m_cacheMutex);
    if (!capture) {
        m_failedChecks[key] = now + retryCheckMs;
        return NodeKind::Unknown;
    }
    m_failedChecks.erase(key);
    m_captureCache[key] = *capture;
    return *capture ? NodeKind::Capture : NodeKind::Other;
}

std::vector<QByteArray> ProcScanner::captureNodeNames(NodeChanges& changes)
{
    struct Node
    {
        QByteArray name;
        NodeKind kind;
        bool askedNow;
    };
    std::vector<Node> nodes;
    Dir dev(m_devRoot);
    while (dev) {
        const dirent* entry = dev.next();
        if (!entry)
            break;
        if (std::strncmp(entry->d_name, "video", 5) != 0)
            continue;
        const QByteArray name(entry->d_name);
        bool askedNow = false;
        const NodeKind kind = nodeKind(m_devRoot + '/' + name, false, &askedNow);
        nodes.push_back({name, kind, askedNow});
    }
    // Watched: every node that captures or may capture. A node that could not
    // be asked is asked again at its next open or close (udev opens a new
    // node when it grants access, and so does the program that uses it).
    std::vector<QByteArray> watched;
    for (const Node& node : nodes) {
        if (node.kind != NodeKind::Other)
            watched.push_back(node.name);
    }
    changes = m_nodeWatch.changesSinceLastCall(m_devRoot, watched);
    std::vector<QByteArray> names;
    for (Node& node : nodes) {
        if (node.kind == NodeKind::Unknown && changes.concerns(node.name) && !node.askedNow)
            node.kind = nodeKind(m_devRoot + '/' + node.name, true);
        if (node.kind == NodeKind::Capture)
            names.push_back(node.name);
    }
    return names;
}

// Whether the process holds a capture node open: one of `captureNames` when
// the machine's nodes are known, else any /dev/video* node that captures.
bool ProcScanner::holdsVideoNode(qint64 pid, const std::vector<QByteArray>* captureNames)
{
    char path[64];
    Fd fds(openat(rootFd(), pidPath(path, pid, "fd"), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fds.get() < 0)
        return false;
    bool holds = false;
    forEachEntry(fds.get(), [&](const char* name) {
        char target[64];
        const ssize_t n = readlinkat(fds.get(), name, target, sizeof target - 1);
        if (n <= 0 || std::size_t(n) <= videoPrefixLength ||
            std::memcmp(target, videoPrefix, videoPrefixLength) != 0)
            return false;
        if (captureNames) {
            const std::size_t nameLength = std::size_t(n) - (videoPrefixLength - 5);
            const char* nodeName = target + videoPrefixLength - 5; // "videoN"
            holds = std::any_of(captureNames->begin(), captureNames->end(), [&](const QByteArray& known) {
                return std::size_t(known.size()) == nameLength &&
                       std::memcmp(known.constData(), nodeName, nameLength) == 0;
            });
        } else {
            holds = nodeKind(QByteArray(target, int(n)), false) == NodeKind::Capture;
        }
        return holds;
    });
    return holds;
}

bool ProcScanner::findHolder(const std::vector<qint64>& pids, const std::vector<QByteArray>* captureNames)
{
    // During a call the same process holds the camera look after look: ask it first.
    if (m_lastHolder && std::find(pids.begin(), pids.end(), *m_lastHolder) != pids.end() &&
        holdsVideoNode(*m_lastHolder, captureNames))
        return true;
    m_lastHolder.reset();
    const auto holder =
        std::find_if(pids.begin(), pids.end(), [&](qint64 pid) { return holdsVideoNode(pid, captureNames); });
    if (holder == pids.end())
        return false;
    m_lastHolder = *holder;
    return true;
}

const ProcScanner::Seen* ProcScanner::listed(const std::vector<Seen>& listing, qint64 pid)
{
    const auto it = std::lower_bound(listing.begin(), listing.end(), pid,
                                     [](const Seen& s, qint64 p) { return s.pid < p; });
    return it != listing.end() && it->pid == pid ? &*it : nullptr;
}

bool ProcScanner::isCameraInUse(const std::vector<qint64>& pids)
{
    if (m_devRoot.isEmpty())
        return findHolder(pids, nullptr);
    // Asked even without capture nodes, so that one that appears later counts as new.
    NodeChanges changes;
    const std::vector<QByteArray> captureNames = captureNodeNames(changes);
    const bool sameNodes = captureNames == m_lastCaptureNames;
    m_lastCaptureNames = captureNames;
    if (captureNames.empty()) {
        m_freeAtLastLook = false;
        return false; // no capture node on the machine: no process can hold one
    }
    std::vector<Seen> listing;
    listing.reserve(pids.size());
    for (qint64 pid : pids) {
        const Seen* seen = listed(m_seen, pid);
        listing.push_back(seen ? *seen : Seen{pid, -1, -1});
    }
    std::sort(listing.begin(), listing.end(), [](const Seen& a, const Seen& b) { return a.pid < b.pid; });
    const qint64 now = nowMs();
    const bool quiet = sameNodes && m_lastFullReadMs && now - *m_lastFullReadMs < fullReadMs &&
                       std::none_of(captureNames.begin(), captureNames.end(),
                                    [&](const QByteArray& name) { return changes.concerns(name); });
    std::vector<qint64> toRead = pids;
    if (quiet && m_freeAtLastLook) {
        // No capture node was opened since a look found none held. A
        // descriptor then reaches a listed process only without an open: as a
        // process new to the listing (a child, or a program that became the
        // user's, of someone else's holder), which is read now, or handed
        // over a socket, which the full read every 30 s finds.
        toRead.clear();
        for (const Seen& process : listing) {
            const Seen* before = listed(m_lookedAt, process.pid);
            if (process.startSec < 0 || !before || !(*before == process))
                toRead.push_back(process.pid);
        }
    } else {
        m_lastFullReadMs = now;
    }
    const bool held = findHolder(toRead, &captureNames);
    m_freeAtLastLook = !held;
    m_lookedAt = std::move(listing);
    return held;
}

std::vector<RunningApplication> ProcScanner::runningApplications(const std::vector<qint64>& pids)
{
    std::vector<RunningApplication> apps;
    apps.reserve(pids.size());
    std::map<qint64, SandboxEntry> stillRunning;
    const int root = rootFd();
    for (qint64 pid : pids) {
        char path[64];
        const QByteArray exe = readLink(root, pidPath(path, pid, "exe"));
        Seen start;
        struct stat st = {};
        if (const Seen* seen = listed(m_seen, pid))
            start = *seen;
        else if (fstatat(root, pidPath(path, pid, ""), &st, 0) == 0)
            start = {pid, qint64(st.st_ctim.tv_sec), qint64(st.st_ctim.tv_nsec)};
        else
            continue; // ended since the listing
        auto cached = m_sandboxCache.extract(pid);
        SandboxEntry& facts = stillRunning[pid];
        if (cached && cached.mapped().startSec == start.startSec &&
            cached.mapped().startNsec == start.startNsec && cached.mapped().exeLink == exe) {
            facts = std::move(cached.mapped());
        } else {
            facts = {start.startSec, start.startNsec, exe,
                     exe.isEmpty() ? QString() : executableBaseName(exe), flatpakApplicationId(root, pid)};
        }
        RunningApplication app;
        app.pid = pid;
        // No executable to read (a process in another mount namespace, say):
        // the kernel's short name is all there is, and a process may rename itself.
        app.executableName =
            exe.isEmpty() ? QFile::decodeName(readSmallFile(root, pidPath(path, pid, "comm")).trimmed())
                          : facts.executableName;
        app.flatpakId = facts.flatpakId;
        if (!app.executableName.isEmpty() || !app.flatpakId.isEmpty())
            apps.push_back(std::move(app));
    }
    m_sandboxCache.swap(stillRunning); // forget processes that ended
    return apps;
}

std::vector<qint64> ProcScanner::processesWithNamespacePid(qint64 pid,
                                                           const std::vector<RunningApplication>& among) const
{
    std::vector<qint64> found;
    const int root = rootFd();
    for (const RunningApplication& app : among) {
        if (app.flatpakId.isEmpty())
            continue; // only a sandbox has a pid namespace of its own here
        char path[64];
        const QByteArray status = readSmallFile(root, pidPath(path, app.pid, "status"));
        const int at = status.indexOf("\nNSpid:");
        if (at < 0)
            continue;
        const int end = status.indexOf('\n', at + 1);
        const QList<QByteArray> ids = status.mid(at + 7, end < 0 ? -1 : end - at - 7).simplified().split(' ');
        if (ids.size() >= 2 && ids.last().toLongLong() == pid)
            found.push_back(app.pid);
    }
    return found;
}

} // namespace pondra
