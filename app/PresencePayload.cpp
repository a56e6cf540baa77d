#include "app/PresencePayload.h"

#include "records/IdleState.h"

#include <QBuffer>
#include <QImageWriter>

namespace pondra {

bool isUsingHeadphones(const QString& outputDeviceType, const QString& outputDeviceName)
{
    const bool bluetooth =
        outputDeviceType == QLatin1String("Bluetooth") || outputDeviceType == QLatin1String("Bluetooth LE");
    return bluetooth && outputDeviceName != QLatin1String("Digital Hifi Audio");
}

QString composeFullStatus(const QString& userStatus, bool includeNowPlaying, const QString& nowPlayingText)
{
    if (!includeNowPlaying || nowPlayingText.isEmpty())
        return userStatus;
    const QString note = QStringLiteral("\U0001F3B5 ");
    if (userStatus.isEmpty())
        return note + nowPlayingText;
    return userStatus + QLatin1Char(' ') + note + nowPlayingText;
}

std::optional<QString> encodePhoto(const QImage& image)
{
    if (image.isNull())
        return std::nullopt;
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(70);
    if (!writer.write(image) || jpeg.isEmpty())
        return std::nullopt;
    return QString::fromLatin1(jpeg.toBase64());
}

QString payloadTimestamp(const QDateTime& moment)
{
    return moment.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

UpdatePayload PresencePayloadBuilder::build(const PresenceSnapshot& in, bool forceUpdate)
{
    const bool present = in.isPondraMode;
    const QString band = present ? IdleState::fromSeconds(in.idleSeconds).wireText() : QStringLiteral("idle");
    // While away nothing of what the user is doing goes out.
    const bool headphones = present && isUsingHeadphones(in.outputDeviceType, in.outputDeviceName);
    const bool playing = present && in.isPlayingMedia;
    const bool muted = present && in.isMuted;
    const bool hasPhoto = in.capturedImage.has_value();
    const bool inMeeting = present && in.isInMeeting;
    const QString meetingApp = present ? in.meetingApp : QString();
    const QString status =
        present ? composeFullStatus(in.userStatus, in.includeNowPlaying, in.nowPlayingText) : in.userStatus;

    LastSentState state{in.userName, in.isPondraMode, band,      playing,    muted,
                        headphones,  hasPhoto,        inMeeting, meetingApp, status};
    if (!forceUpdate && m_lastSentState && *m_lastSentState == state)
        return {};
    // Remembered before the upload is even tried: a failed upload is not retried
    // by the next unforced request, only by the next forced one.
    m_lastSentState = state;

    // The photo is encoded only once we know the record goes out.
    std::optional<QString> photo;
    if (in.capturedImage)
        photo = encodePhoto(*in.capturedImage);

    QJsonObject payload{
        {QStringLiteral("id"), in.userId},
        {QStringLiteral("name"), in.userName},
        {QStringLiteral("email"), in.userEmail},
        {QStringLiteral("team"), in.teamName},
        {QStringLiteral("isPondra"), in.isPondraMode},
        {QStringLiteral("isIdle"), in.isIdle},
        {QStringLiteral("idleState"), band},
        {QStringLiteral("idleSeconds"), in.idleSeconds},
        {QStringLiteral("isPlayingAudio"), playing},
        {QStringLiteral("isMuted"), muted},
        {QStringLiteral("isUsingHeadphones"), headphones},
        {QStringLiteral("isInMeeting"), inMeeting},
        {QStringLiteral("meetingApp"), meetingApp},
        {QStringLiteral("photo"), photo ? QJsonValue(*photo) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("status"), status},
        {QStringLiteral("timestamp"), payloadTimestamp(in.now)},
    };
    return {true, payload, state};
}

} // namespace pondra
