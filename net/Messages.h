#pragma once

#include "records/RemoteUser.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <variant>

namespace pondra::net {

/// "users": the whole team's records, in the server's order.
struct UsersMessage
{
    QList<RemoteUser> data;
};

/// "ring": a teammate asks `to` to talk.
struct RingMessage
{
    QString from;
    QString to;
    std::optional<QString> url;
    std::optional<QString> photo;
};

/// "ring-response": a teammate's answer to a ring from `to`.
struct RingResponseMessage
{
    QString from;
    QString to;
    bool accepted = false;
    std::optional<QString> url;
};

/// A frame that is not a JSON object with a string "type".
struct UndecodableMessage
{
};

/// A known type whose members do not decode; dropped without a word.
struct MalformedMessage
{
};

/// A type we do not know.
struct UnknownMessage
{
    QString type;
};

using IncomingMessage = std::variant<UndecodableMessage, MalformedMessage, UnknownMessage, UsersMessage,
                                     RingMessage, RingResponseMessage>;

/// Decodes one frame's text (as UTF-8 bytes). Types are told apart by
/// canonical equivalence, case-sensitively; members we do not name are ignored,
/// and one record that fails makes a whole "users" message malformed.
IncomingMessage decodeIncomingMessage(const QByteArray& utf8);

/// The bytes of a data frame as text; none when they are not valid UTF-8.
std::optional<QString> textOfDataFrame(const QByteArray& bytes);

/// The compact "join" message for `team` (which may be empty).
QString joinMessageText(const QString& team);

} // namespace pondra::net
