#pragma once

#include "platform/meeting/MeetingSignals.h"

namespace pondra {

/// Evidence set by the test, handed back at once.
class FakeMeetingSignals final : public MeetingSignals
{
public:
    MeetingEvidence evidence;
    int looks = 0;

    MeetingEvidence collectNow() override
    {
        ++looks;
        return evidence;
    }
    void collect(std::function<void(MeetingEvidence)> done) override { done(collectNow()); }
};

} // namespace pondra
