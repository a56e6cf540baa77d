#pragma once

#include "platform/meeting/MeetingSignals.h"

#include <QByteArray>

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace pondra {

/// Whether a /dev/videoN node is a video capture device.
using CaptureNodeCheck = std::function<bool(const QByteArray& devicePath)>;

/// Asks the node's driver for its capabilities (no streaming, nothing claimed).
bool isV4l2CaptureNode(const QByteArray& devicePath);

/**
 * Reads the user's processes from a /proc tree (the real one, or a fake one
 * in tests). Only processes owned by the effective user are looked at.
 */
class ProcScanner final
{
public:
    explicit ProcScanner(QByteArray procRoot = "/proc", CaptureNodeCheck isCaptureNode = isV4l2CaptureNode);

    /// The effective user's process ids, ascending.
    std::vector<qint64> ownProcessIds() const;
    /// Some of these processes holds a V4L2 capture node open.
    bool isCameraInUse(const std::vector<qint64>& pids);
    /// These processes as applications, in the same order.
    std::vector<RunningApplication> runningApplications(const std::vector<qint64>& pids);
    /// The processes whose innermost namespace pid is `pid`, each in a pid namespace
    /// of its own (a sandboxed application seen from inside its sandbox).
    std::vector<qint64> processesWithNamespacePid(qint64 pid, const std::vector<RunningApplication>& among) const;

private:
    bool isCapture(const QByteArray& devicePath);
    QString flatpakIdOf(qint64 pid, const QByteArray& pidDir, const QByteArray& exeLink);

    QByteArray m_root;
    CaptureNodeCheck m_isCaptureNode;
    std::mutex m_cacheMutex;
    std::map<QByteArray, bool> m_captureCache;
    // A process enters a sandbox only by exec, so its Flatpak id is known for
    // as long as the pid, its start and its executable stay the same.
    struct SandboxEntry
    {
        QByteArray identity;
        QString flatpakId;
    };
    std::map<qint64, SandboxEntry> m_sandboxCache;
};

} // namespace pondra
