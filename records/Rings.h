#pragma once

#include <QDateTime>
#include <QImage>
#include <QString>

#include <optional>

namespace pondra {

/// A ring that arrived and is not yet answered, as the ring manager keeps it.
struct PendingRing
{
    QString from;
    /// Upper-case UUID text; also the id of the matching IncomingRing.
    QString notificationId;
    QDateTime expiresAt;

    bool operator==(const PendingRing&) const = default;
};

/// The published fact that someone is ringing this user.
struct IncomingRing
{
    QString id;
    QString from;
    std::optional<QImage> photo;

    bool operator==(const IncomingRing& o) const { return id == o.id && from == o.from && photo == o.photo; }
};

} // namespace pondra
