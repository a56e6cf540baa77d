#include "platform/meeting/LinuxMeetingSignals.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>

namespace pondra {

namespace {

bool matchesWindowClass(const RunningApplication& app, const QString& windowClass)
{
    if (windowClass.isEmpty())
        return false;
    const auto same = [&](const QString& id) {
        return !id.isEmpty() && id.compare(windowClass, Qt::CaseInsensitive) == 0;
    };
    return same(app.flatpakId) || same(app.executableName) ||
           same(app.flatpakId.section(QLatin1Char('.'), -1));
}

} // namespace

LinuxMeetingSignals::LinuxMeetingSignals(std::shared_ptr<AudioDeviceSource> audio, QByteArray procRoot,
                                         CaptureNodeCheck isCaptureNode,
                                         std::shared_ptr<ActiveWindowSource> windows,
                                         std::optional<QByteArray> devRoot, MonotonicClock clock,
                                         bool watchNodes)
    : m_audio(std::move(audio)),
      m_proc(std::move(procRoot), std::move(isCaptureNode), std::move(devRoot), std::move(clock), watchNodes),
      m_windows(std::move(windows))
{
    m_worker.setMaxThreadCount(1);
}

LinuxMeetingSignals::~LinuxMeetingSignals()
{
    m_worker.waitForDone();
}

bool LinuxMeetingSignals::isMicrophoneInUse() const
{
    if (!m_audio)
        return false;
    const AudioSnapshot snapshot = m_audio->snapshot();
    // A headset that plays and records through one device is not evidence of a call.
    return snapshot.input && !snapshot.input->isSameDeviceAsOutput && snapshot.input->isRunning;
}

std::optional<RunningApplication>
LinuxMeetingSignals::frontmostOf(const std::vector<RunningApplication>& apps)
{
    const std::optional<ActiveWindow> window = m_windows ? m_windows->activeWindow() : std::nullopt;
    if (!window)
        return std::nullopt;
    const auto byPid = [&](qint64 pid) -> std::optional<RunningApplication> {
        const auto it = std::lower_bound(apps.begin(), apps.end(), pid,
                                         [](const RunningApplication& app, qint64 p) { return app.pid < p; });
        if (it != apps.end() && it->pid == pid)
            return *it;
        return std::nullopt;
    };
    if (window->pid > 0) {
        // A sandboxed window names its pid inside the sandbox: prefer a
        // sandboxed process with that inner pid whose class fits.
        const std::vector<qint64> inner = m_proc.processesWithNamespacePid(window->pid, apps);
        for (qint64 pid : inner) {
            auto app = byPid(pid);
            if (app && (inner.size() == 1 || matchesWindowClass(*app, window->windowClass)))
                return app;
        }
        if (auto app = byPid(window->pid);
            app && (inner.empty() || matchesWindowClass(*app, window->windowClass)))
            return app;
    }
    const auto it = std::find_if(apps.begin(), apps.end(), [&](const RunningApplication& app) {
        return matchesWindowClass(app, window->windowClass);
    });
    if (it != apps.end())
        return *it;
    return std::nullopt;
}

MeetingEvidence LinuxMeetingSignals::collectNow()
{
    MeetingEvidence evidence;
    std::lock_guard lock(m_lookMutex);
    const std::vector<qint64> pids = m_proc.ownProcessIds();
    evidence.isCameraInUse = m_proc.isCameraInUse(pids);
    evidence.isMicInUse = isMicrophoneInUse();
    evidence.runningApplications = m_proc.runningApplications(pids);
    evidence.frontmostApplication = frontmostOf(evidence.runningApplications);
    return evidence;
}

void LinuxMeetingSignals::collect(std::function<void(MeetingEvidence)> done)
{
    m_worker.start([this, done = std::move(done)]() mutable {
        MeetingEvidence evidence = collectNow();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [done = std::move(done), evidence = std::move(evidence)]() mutable { done(std::move(evidence)); },
            Qt::QueuedConnection);
    });
}

} // namespace pondra
