#pragma once

#include "platform/core/Published.h"
#include "platform/core/Scheduler.h"
#include "platform/meeting/MeetingSignals.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

namespace pondra {

/// Judges every two seconds whether the user is in a call, and with which application.
class MeetingMonitor final : public QObject
{
    Q_OBJECT

public:
    Owned<bool, MeetingMonitor> isInMeeting{false};
    Owned<QString, MeetingMonitor> meetingApp{QString()};
    Owned<bool, MeetingMonitor> isCameraInUse{false};
    Owned<bool, MeetingMonitor> isMicInUse{false};

    /// Publishes the first verdict before it returns, then looks every two seconds.
    explicit MeetingMonitor(std::shared_ptr<MeetingSignals> meetingSignals = defaultSignals(),
                            Scheduler& scheduler = RealScheduler::instance(), QObject* parent = nullptr);
    ~MeetingMonitor() override;

    /// The Linux signals over the shared audio source.
    static std::shared_ptr<MeetingSignals> defaultSignals();

Q_SIGNALS:
    /// Fires on every assignment of a published value, after it is stored.
    void changed();

private:
    void startMonitoring();
    void updateMeetingStatus();
    void onEvidence(const MeetingEvidence& evidence);
    static std::optional<QString> findRunningMeetingApp(const MeetingEvidence& evidence);
    static bool isAnyBrowserRunning(const MeetingEvidence& evidence);

    std::shared_ptr<MeetingSignals> m_signals;
    Scheduler& m_scheduler;
    TimerHandle m_timer;
    bool m_lookInFlight = false;
    // Lets a look that finishes after the monitor is gone find out.
    std::shared_ptr<MeetingMonitor*> m_self = std::make_shared<MeetingMonitor*>(this);
};

} // namespace pondra
