#pragma once

#include "platform/audio/AudioDeviceSource.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <memory>

namespace pondra {

/**
 * The audio devices as PulseAudio (or PipeWire's pulse server) reports them.
 * One connection on libpulse's own thread subscribes to server, sink, source
 * and recording changes and keeps a snapshot current, so reading it never
 * waits on the server. It never starts a server; when the server goes away
 * the snapshot has no devices and a new connection is tried every second.
 */
class PulseAudioSource final : public AudioDeviceSource
{
public:
    /// `server` empty: libpulse's usual lookup ($PULSE_SERVER, the user's runtime folder).
    /// The constructor waits at most `firstFill` for the first snapshot.
    explicit PulseAudioSource(QByteArray server = {},
                              std::chrono::milliseconds firstFill = std::chrono::milliseconds(250));
    ~PulseAudioSource() override;
    PulseAudioSource(const PulseAudioSource&) = delete;
    PulseAudioSource& operator=(const PulseAudioSource&) = delete;

    AudioSnapshot snapshot() const override;

    bool isConnected() const;
    /// Grows by one with every snapshot the source takes (for waiting on a change).
    std::uint64_t generation() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

/// The one real source shared by the monitors that read the audio devices.
std::shared_ptr<AudioDeviceSource> sharedPulseAudioSource();

} // namespace pondra
