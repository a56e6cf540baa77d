#pragma once

#include "platform/audio/AudioDeviceSource.h"
#include "platform/meeting/ActiveWindow.h"
#include "platform/meeting/MeetingSignals.h"
#include "platform/meeting/ProcScanner.h"

#include <QThreadPool>

#include <memory>
#include <mutex>

namespace pondra {

/// The meeting signals from /proc, V4L2, the sound server's snapshot and X11.
class LinuxMeetingSignals final : public MeetingSignals
{
public:
    /// `clock` and `watchNodes` as for ProcScanner.
    explicit LinuxMeetingSignals(
        std::shared_ptr<AudioDeviceSource> audio, QByteArray procRoot = "/proc",
        CaptureNodeCheck isCaptureNode = isV4l2CaptureNode,
        std::shared_ptr<ActiveWindowSource> windows = std::make_shared<X11ActiveWindowSource>(),
        std::optional<QByteArray> devRoot = std::nullopt, MonotonicClock clock = {}, bool watchNodes = true);
    ~LinuxMeetingSignals() override;

    MeetingEvidence collectNow() override;
    /// Scans on a worker thread of its own; the result reaches the main thread queued.
    void collect(std::function<void(MeetingEvidence)> done) override;

private:
    /// The running application that owns the focused window.
    std::optional<RunningApplication> frontmostOf(const std::vector<RunningApplication>& apps);
    bool isMicrophoneInUse() const;

    std::shared_ptr<AudioDeviceSource> m_audio;
    ProcScanner m_proc;
    std::shared_ptr<ActiveWindowSource> m_windows;
    std::mutex m_lookMutex; // one look at a time, whichever thread asks
    QThreadPool m_worker;
};

} // namespace pondra
