#pragma once

#include "platform/meeting/DeviceOpenWatch.h"
#include "platform/meeting/MeetingSignals.h"

#include <QByteArray>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace pondra {

/// Whether a /dev/videoN node is a video capture device; none when that
/// cannot be told now (the node cannot be opened yet, say).
using CaptureNodeCheck = std::function<std::optional<bool>(const QByteArray& devicePath)>;

/// Asks the node's driver for its capabilities (no streaming, nothing
/// claimed). None when the node cannot be opened or asked: a freshly plugged
/// camera is closed to the user until udev grants access.
std::optional<bool> isV4l2CaptureNode(const QByteArray& devicePath);

/// Milliseconds on a monotonic clock.
using MonotonicClock = std::function<qint64()>;

/**
 * Reads the user's processes from a /proc tree (the real one, or a fake one
 * in tests). Only processes owned by the effective user are looked at.
 *
 * `devRoot` is the folder whose video* nodes are the machine's video devices.
 * With it, a look asks which of them capture first and reads no process's
 * descriptors when none does. Empty: the nodes are not known, so every
 * /dev/video* a process holds is asked about. Not given: /dev for the real
 * /proc, unknown for any other tree. A node that could not be asked is asked
 * again at its next open or close, and at most 30 s later.
 *
 * With the nodes known and watched (`watchNodes`), a look that finds no
 * holder is trusted while none of the capture nodes is opened, closed or made
 * again: meanwhile later looks read the descriptors of processes new to the
 * listing only. A descriptor can also reach a listed process without any
 * open (handed over a socket), so every 30 s a look reads them all.
 */
class ProcScanner final
{
public:
    static constexpr qint64 retryCheckMs = 30'000;
    static constexpr qint64 fullReadMs = 30'000;

    /// `clock` empty: the system's steady clock.
    explicit ProcScanner(QByteArray procRoot = "/proc", CaptureNodeCheck isCaptureNode = isV4l2CaptureNode,
                         std::optional<QByteArray> devRoot = std::nullopt, MonotonicClock clock = {},
                         bool watchNodes = true);
    ~ProcScanner();
    ProcScanner(const ProcScanner&) = delete;
    ProcScanner& operator=(const ProcScanner&) = delete;

    /// The effective user's process ids, ascending.
    std::vector<qint64> ownProcessIds() const;
    /// Some of these processes holds a V4L2 capture node open.
    bool isCameraInUse(const std::vector<qint64>& pids);
    /// These processes as applications, in the same order.
    std::vector<RunningApplication> runningApplications(const std::vector<qint64>& pids);
    /// The processes whose innermost namespace pid is `pid`, each in a pid namespace
    /// of its own (a sandboxed application seen from inside its sandbox).
    std::vector<qint64> processesWithNamespacePid(qint64 pid,
                                                  const std::vector<RunningApplication>& among) const;

private:
    enum class NodeKind
    {
        Capture,
        Other,
        Unknown
    };

    int rootFd() const;
    qint64 nowMs() const;
    /// What the node is, asked once for good; a node that could not be asked
    /// is asked again when `retry` or when its 30 s have passed. `askedNow`
    /// tells whether the node was asked by this call.
    NodeKind nodeKind(const QByteArray& devicePath, bool retry, bool* askedNow = nullptr);
    /// The names (videoN) of the capture nodes in the dev root, after the
    /// watch has told what changed.
    std::vector<QByteArray> captureNodeNames(NodeChanges& changes);
    bool holdsVideoNode(qint64 pid, const std::vector<QByteArray>* captureNames);
    /// Whether one of `pids` holds a capture node; the holder is asked first at the next look.
    bool findHolder(const std::vector<qint64>& pids, const std::vector<QByteArray>* captureNames);

    QByteArray m_root;
    CaptureNodeCheck m_isCaptureNode;
    QByteArray m_devRoot;
    MonotonicClock m_clock;
    mutable int m_rootFd = -1;
    std::optional<qint64> m_lastHolder;
    std::mutex m_cacheMutex;
    // Keyed by the node's path and identity; definite answers only.
    std::map<QByteArray, bool> m_captureCache;
    // Nodes that could not be asked, with the time they are asked again.
    std::map<QByteArray, qint64> m_failedChecks;
    // When each own process was last seen to start (the ctime of its /proc
    // folder), from the listing, so no look stats a process twice.
    struct Seen
    {
        qint64 pid = 0;
        qint64 startSec = 0;
        qint64 startNsec = 0;
        bool operator==(const Seen&) const = default;
    };
    mutable std::vector<Seen> m_seen;
    static const Seen* listed(const std::vector<Seen>& listing, qint64 pid);
    /// The listing of the last camera look, and whether that look found no holder.
    std::vector<Seen> m_lookedAt;
    bool m_freeAtLastLook = false;
    std::vector<QByteArray> m_lastCaptureNames;
    std::optional<qint64> m_lastFullReadMs;
    DeviceOpenWatch m_nodeWatch;
    // A process enters a sandbox only by exec, so its Flatpak id is known for
    // as long as the pid, its start and its executable stay the same.
    struct SandboxEntry
    {
        qint64 startSec = 0;
        qint64 startNsec = 0;
        QByteArray exeLink;
        QString executableName;
        QString flatpakId;
    };
    std::map<qint64, SandboxEntry> m_sandboxCache;
};

} // namespace pondra
