#include "sensing/MeetingMonitor.h"

#include "platform/audio/PulseAudioSource.h"
#include "platform/core/Log.h"
#include "platform/meeting/ApplicationTable.h"
#include "platform/meeting/LinuxMeetingSignals.h"

using namespace std::chrono_literals;

namespace pondra {

MeetingMonitor::MeetingMonitor(std::shared_ptr<MeetingSignals> meetingSignals, Scheduler& scheduler, QObject* parent)
    : QObject(parent), m_signals(std::move(meetingSignals)), m_scheduler(scheduler)
{
    const auto notify = [this] { Q_EMIT changed(); };
    isInMeeting.setChangeHook(notify);
    meetingApp.setChangeHook(notify);
    isCameraInUse.setChangeHook(notify);
    isMicInUse.setChangeHook(notify);
    startMonitoring();
}

MeetingMonitor::~MeetingMonitor()
{
    m_timer.cancel();
}

std::shared_ptr<MeetingSignals> MeetingMonitor::defaultSignals()
{
    return std::make_shared<LinuxMeetingSignals>(sharedPulseAudioSource());
}

void MeetingMonitor::startMonitoring()
{
    if (m_signals)
        onEvidence(m_signals->collectNow());
    m_timer = m_scheduler.every(2s, this, [this] { updateMeetingStatus(); });
}

void MeetingMonitor::updateMeetingStatus()
{
    // The look may take a while off the main thread; never start a second one meanwhile.
    if (!m_signals || m_lookInFlight)
        return;
    m_lookInFlight = true;
    m_signals->collect([weak = std::weak_ptr<MeetingMonitor*>(m_self)](MeetingEvidence evidence) {
        if (auto self = weak.lock()) {
            (*self)->m_lookInFlight = false;
            (*self)->onEvidence(evidence);
        }
    });
}

void MeetingMonitor::onEvidence(const MeetingEvidence& evidence)
{
    const bool camera = evidence.isCameraInUse;
    const bool mic = evidence.isMicInUse;
    const std::optional<QString> app = findRunningMeetingApp(evidence);
    const bool hasEvidence = camera || mic;

    bool inMeeting = false;
    QString name;
    if (app && hasEvidence) {
        inMeeting = true;
        name = *app;
    } else if (hasEvidence && isAnyBrowserRunning(evidence)) {
        inMeeting = true;
        name = QStringLiteral("Video Call");
    }

    if (inMeeting != isInMeeting.get() || name != meetingApp.get())
        logInfo(lcMeeting, "Meeting status changed: inMeeting=%{bool}d, app=%s, camera=%{bool}d, mic=%{bool}d", inMeeting,
                name, camera, mic);
    isCameraInUse.set(camera);
    isMicInUse.set(mic);
    isInMeeting.set(inMeeting);
    meetingApp.set(name);
}

std::optional<QString> MeetingMonitor::findRunningMeetingApp(const MeetingEvidence& evidence)
{
    if (evidence.frontmostApplication) {
        if (auto name = meetingAppName(*evidence.frontmostApplication))
            return name;
    }
    std::optional<QString> firstOther;
    for (const RunningApplication& app : evidence.runningApplications) {
        if (app.isHidden)
            continue;
        const std::optional<QString> name = meetingAppName(app);
        if (!name)
            continue;
        if (isPrimaryMeetingApp(app))
            return name;
        if (!firstOther)
            firstOther = name;
    }
    return firstOther;
}

bool MeetingMonitor::isAnyBrowserRunning(const MeetingEvidence& evidence)
{
    return std::any_of(evidence.runningApplications.begin(), evidence.runningApplications.end(),
                       [](const RunningApplication& app) { return isBrowser(app); });
}

} // namespace pondra
