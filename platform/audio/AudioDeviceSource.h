#pragma once

#include <QString>

#include <optional>

namespace pondra {

/// What the default output device is and is doing.
struct AudioOutputState
{
    /// None when the device's name cannot be read.
    std::optional<QString> name;
    /// One of the transport names ("Built-in", "USB", "Bluetooth", ...); none when unreadable.
    std::optional<QString> transportType;
    /// Some stream keeps the device running.
    bool isRunning = false;
    /// The loudest channel over the normal volume, 0.0 to 1.0; 1.0 without a volume control.
    float volume = 1.0f;
    bool isMuted = false;

    bool operator==(const AudioOutputState&) const = default;
};

/// What the default input device is doing.
struct AudioInputState
{
    /// Some stream records from the device.
    bool isRunning = false;
    /// The input belongs to the default output device (a headset, or the output's own monitor).
    bool isSameDeviceAsOutput = false;

    bool operator==(const AudioInputState&) const = default;
};

/// The sound server's default devices at one moment; empty parts mean "no default device".
struct AudioSnapshot
{
    std::optional<AudioOutputState> output;
    std::optional<AudioInputState> input;

    bool operator==(const AudioSnapshot&) const = default;
};

/**
 * The system's default audio devices. Implementations keep their snapshot up
 * to date on their own, so reading it never waits on the sound server and is
 * safe from any thread.
 */
class AudioDeviceSource
{
public:
    virtual ~AudioDeviceSource() = default;
    /// The latest known state; no default devices while no sound server runs.
    virtual AudioSnapshot snapshot() const = 0;
};

} // namespace pondra
