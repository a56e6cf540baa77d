#pragma once

#include "platform/audio/AudioDeviceSource.h"

#include <mutex>

namespace pondra {

/// A source whose snapshot the test sets.
class FakeAudioDeviceSource final : public AudioDeviceSource
{
public:
    AudioSnapshot snapshot() const override
    {
        std::lock_guard lock(m_mutex);
        ++m_reads;
        return m_snapshot;
    }
    void setSnapshot(AudioSnapshot snapshot)
    {
        std::lock_guard lock(m_mutex);
        m_snapshot = std::move(snapshot);
    }
    void setOutput(std::optional<AudioOutputState> output)
    {
        std::lock_guard lock(m_mutex);
        m_snapshot.output = std::move(output);
    }
    void setInput(std::optional<AudioInputState> input)
    {
        std::lock_guard lock(m_mutex);
        m_snapshot.input = std::move(input);
    }
    int readCount() const
    {
        std::lock_guard lock(m_mutex);
        return m_reads;
    }

private:
    mutable std::mutex m_mutex;
    AudioSnapshot m_snapshot;
    mutable int m_reads = 0;
};

} // namespace pondra
