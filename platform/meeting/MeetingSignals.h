#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace pondra {

/// One running application of the user's.
struct RunningApplication
{
    qint64 pid = 0;
    /// The base name of the program's executable.
    QString executableName;
    /// The Flatpak application id, for sandboxed applications.
    QString flatpakId;
    /// Linux has no hidden applications; fakes may set it.
    bool isHidden = false;

    bool operator==(const RunningApplication&) const = default;
};

/// What one look at the system shows, read in this order.
struct MeetingEvidence
{
    bool isCameraInUse = false;
    bool isMicInUse = false;
    /// In ascending process id.
    std::vector<RunningApplication> runningApplications;
    std::optional<RunningApplication> frontmostApplication;
};

/**
 * The signs of a call that the system offers: a camera in use by any of the
 * user's processes, the default microphone recording (and not being part of
 * the output device), the running applications and the frontmost one.
 */
class MeetingSignals
{
public:
    virtual ~MeetingSignals() = default;
    /// One look, on the calling thread.
    virtual MeetingEvidence collectNow() = 0;
    /// One look, possibly on a worker; `done` runs on the main thread.
    virtual void collect(std::function<void(MeetingEvidence)> done) = 0;
};

} // namespace pondra
