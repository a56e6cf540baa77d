#include "records/LastSentState.h"

#include "records/Text.h"

namespace pondra {

bool LastSentState::operator==(const LastSentState& o) const
{
    return canonicallyEqual(name, o.name) && isPondra == o.isPondra &&
           canonicallyEqual(idleState, o.idleState) && isPlayingAudio == o.isPlayingAudio &&
           isMuted == o.isMuted && isUsingHeadphones == o.isUsingHeadphones && hasPhoto == o.hasPhoto &&
           isInMeeting == o.isInMeeting && canonicallyEqual(meetingApp, o.meetingApp) &&
           canonicallyEqual(status, o.status);
}

} // namespace pondra
