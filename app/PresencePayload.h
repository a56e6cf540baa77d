#pragma once

#include "records/LastSentState.h"
#include "records/UpdatePayload.h"

#include <QDateTime>
#include <QImage>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace pondra {

/// The user counts as on headphones when the output goes over Bluetooth to a
/// device that is not the "Digital Hifi Audio" receiver.
bool isUsingHeadphones(const QString& outputDeviceType, const QString& outputDeviceName);

/// The status with the playing track appended (when that is wanted and something plays).
QString composeFullStatus(const QString& userStatus, bool includeNowPlaying, const QString& nowPlayingText);

/// The photo as the server takes it: JPEG at quality 0.7, standard base64;
/// none when the image cannot be encoded.
std::optional<QString> encodePhoto(const QImage& image);

/// An ISO 8601 internet date-time in UTC without fractional seconds.
QString payloadTimestamp(const QDateTime& moment);

/// Everything a presence record is built from, read at one moment of the main thread.
struct PresenceSnapshot
{
    QString userId;
    QString userName;
    QString userEmail;
    QString teamName;
    QString userStatus;
    bool includeNowPlaying = false;
    /// The now-playing monitor's text ("artist - title", the title, or empty).
    QString nowPlayingText;
    /// The capture service's present/away mode and current photo.
    bool isPondraMode = false;
    std::optional<QImage> capturedImage;
    double idleSeconds = 0;
    bool isIdle = false;
    QString outputDeviceType;
    QString outputDeviceName;
    bool isMuted = false;
    /// Media playback as the now-playing monitor reports it.
    bool isPlayingMedia = false;
    bool isInMeeting = false;
    QString meetingApp;
    /// The current time, in UTC.
    QDateTime now;
};

/// Builds the presence record and remembers what the last one described, so
/// that unforced requests for an unchanged record send nothing.
class PresencePayloadBuilder final
{
public:
    UpdatePayload build(const PresenceSnapshot& snapshot, bool forceUpdate);
    const std::optional<LastSentState>& lastSentState() const { return m_lastSentState; }

private:
    std::optional<LastSentState> m_lastSentState;
};

} // namespace pondra
