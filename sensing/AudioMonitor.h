#pragma once

#include "platform/audio/AudioDeviceSource.h"
#include "platform/core/Published.h"
#include "platform/core/Scheduler.h"

#include <QObject>
#include <QString>

#include <memory>

namespace pondra {

/// Publishes what the default audio output device is and does, polled once a second.
class AudioMonitor final : public QObject
{
    Q_OBJECT

public:
    Owned<bool, AudioMonitor> isPlaying{false};
    Owned<QString, AudioMonitor> outputDeviceName{QStringLiteral("Unknown")};
    Owned<QString, AudioMonitor> outputDeviceType{QStringLiteral("Unknown")};
    Owned<float, AudioMonitor> volume{1.0f};
    Owned<bool, AudioMonitor> isMuted{false};

    /// Publishes the first values before it returns, then polls every second.
    explicit AudioMonitor(std::shared_ptr<AudioDeviceSource> devices = sharedDefaultSource(),
                          Scheduler& scheduler = RealScheduler::instance(), QObject* parent = nullptr);
    ~AudioMonitor() override;

    static std::shared_ptr<AudioDeviceSource> sharedDefaultSource();

Q_SIGNALS:
    /// Fires on every assignment of a published value, after it is stored.
    void changed();

private:
    void startMonitoring();
    void updateAudioStatus();

    std::shared_ptr<AudioDeviceSource> m_devices;
    Scheduler& m_scheduler;
    TimerHandle m_timer;
};

} // namespace pondra
