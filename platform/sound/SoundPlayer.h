#pragma once

#include <QString>

namespace pondra {

/**
 * Plays short sounds that ship beside the program (for instance the ring).
 * A sound is named without its extension; a missing sound, or a machine
 * without any audio output, simply stays silent.
 */
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    /// Plays the named sound once. Returns whether it was handed to an audio
    /// output; callers that only want the sound may ignore the answer.
    virtual bool play(const QString& name) = 0;
};

} // namespace pondra
