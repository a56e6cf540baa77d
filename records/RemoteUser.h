#pragma once

#include <QImage>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace pondra {

/// One teammate's presence record as the server pushes it.
struct RemoteUser
{
    QString id;
    QString name;
    QString team;
    bool isPondra = false;
    bool isIdle = false;
    QString idleState;
    double idleSeconds = 0;
    std::optional<bool> isPlayingAudio;
    std::optional<bool> isMuted;
    std::optional<bool> isUsingHeadphones;
    std::optional<bool> isInMeeting;
    std::optional<QString> meetingApp;
    std::optional<QString> photo;
    std::optional<QString> status;
    QString lastUpdate;

    /// Decodes with strict JSON types. Optional keys may be missing or null;
    /// unknown keys are ignored. On failure `error` names the offending key.
    static std::optional<RemoteUser> fromJson(const QJsonObject& object, QString* error = nullptr);
    /// Every required key, and each optional key only when it holds a value.
    QJsonObject toJson() const;
    /// The photo as an image, or none when it is absent or fails the checks.
    std::optional<QImage> decodedPhoto() const;

    bool operator==(const RemoteUser&) const = default;
};

} // namespace pondra
