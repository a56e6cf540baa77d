#pragma once

#include <QString>

namespace pondra {

/// What the last built update described; an unforced update is sent only
/// when this changes.
struct LastSentState
{
    QString name;
    bool isPondra = false;
    QString idleState;
    bool isPlayingAudio = false;
    bool isMuted = false;
    bool isUsingHeadphones = false;
    bool hasPhoto = false;
    bool isInMeeting = false;
    QString meetingApp;
    QString status;

    /// Texts compare as Unicode text: canonically equivalent texts are equal.
    bool operator==(const LastSentState& other) const;
};

} // namespace pondra
