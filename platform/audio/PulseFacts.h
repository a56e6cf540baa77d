#pragma once

#include "platform/audio/AudioDeviceSource.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace pondra {

inline constexpr std::uint32_t noPulseIndex = 0xFFFFFFFFu;

/// What the sound server says about one sink, reduced to what the snapshot needs.
struct PulseSinkFacts
{
    std::uint32_t index = noPulseIndex;
    std::uint32_t card = noPulseIndex;
    QString name;
    QString description;
    bool isRunning = false;
    float volume = 1.0f;
    bool isMuted = false;
    bool hasHdmiPortActive = false;
    QString bus;          // device.bus
    QString api;          // device.api
    QString profile;      // the Bluetooth profile, where the server names one
    QString moduleName;   // the module that owns the sink
};

struct PulseSourceFacts
{
    std::uint32_t index = noPulseIndex;
    std::uint32_t card = noPulseIndex;
    std::uint32_t monitorOfSink = noPulseIndex;
    QString name;
    bool isRunning = false;
};

struct PulseServerFacts
{
    QString defaultSinkName;
    QString defaultSourceName;
    std::vector<PulseSinkFacts> sinks;
    std::vector<PulseSourceFacts> sources;
};

/// The transport name of a sink, by the first rule of the transport table that matches.
QString transportTypeFor(const PulseSinkFacts& sink);

/// The default devices as the server's facts describe them.
AudioSnapshot buildAudioSnapshot(const PulseServerFacts& facts);

} // namespace pondra
