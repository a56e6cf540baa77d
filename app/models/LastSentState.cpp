#include "app/models/LastSentState.h"

namespace pondra {

bool canonicallyEqual(const QString& a, const QString& b)
{
    if (a == b)
        return true;
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

bool LastSentState::operator==(const LastSentState& o) const
{
    return canonicallyEqual(name, o.name) && isPondra == o.isPondra && canonicallyEqual(idleState, o.idleState) &&
           isPlayingAudio == o.isPlayingAudio && isMuted == o.isMuted && isUsingHeadphones == o.isUsingHeadphones &&
           hasPhoto == o.hasPhoto && isInMeeting == o.isInMeeting && canonicallyEqual(meetingApp, o.meetingApp) &&
           canonicallyEqual(status, o.status);
}

} // namespace pondra
