#include "sensing/AudioMonitor.h"

#include "platform/audio/PulseAudioSource.h"
#include "platform/core/Log.h"

using namespace std::chrono_literals;

namespace pondra {

namespace {
// As a 32-bit value, so exactly 0.05 does not count as muted.
constexpr float mutedBelowVolume = 0.05f;
} // namespace

AudioMonitor::AudioMonitor(std::shared_ptr<AudioDeviceSource> devices, Scheduler& scheduler, QObject* parent)
    : QObject(parent), m_devices(std::move(devices)), m_scheduler(scheduler)
{
    const auto notify = [this] { Q_EMIT changed(); };
    isPlaying.setChangeHook(notify);
    outputDeviceName.setChangeHook(notify);
    outputDeviceType.setChangeHook(notify);
    volume.setChangeHook(notify);
    isMuted.setChangeHook(notify);
    startMonitoring();
}

AudioMonitor::~AudioMonitor()
{
    m_timer.cancel();
}

std::shared_ptr<AudioDeviceSource> AudioMonitor::sharedDefaultSource()
{
    return sharedPulseAudioSource();
}

void AudioMonitor::startMonitoring()
{
    updateAudioStatus();
    m_timer = m_scheduler.every(1s, this, [this] { updateAudioStatus(); });
}

void AudioMonitor::updateAudioStatus()
{
    if (!m_devices)
        return;
    const AudioSnapshot snapshot = m_devices->snapshot();
    if (!snapshot.output)
        return; // no default device: every value keeps what it had
    const AudioOutputState& device = *snapshot.output;
    const QString name = device.name.value_or(QStringLiteral("Unknown"));
    const QString type = device.transportType.value_or(QStringLiteral("Unknown"));
    if (name != outputDeviceName.get() || type != outputDeviceType.get())
        logDebug(lcAudio, "Device changed - Name: '%s', Type: '%s'", name, type);
    outputDeviceName.set(name);
    outputDeviceType.set(type);
    isPlaying.set(device.isRunning);
    volume.set(device.volume);
    isMuted.set(device.isMuted ? true : volume.get() < mutedBelowVolume);
}

} // namespace pondra
