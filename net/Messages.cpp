#include "net/Messages.h"

#include "records/Text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

namespace pondra::net {

namespace {

std::optional<QString> requiredText(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

/// Absent or null gives "no value"; a value of another type fails the record.
bool optionalText(const QJsonObject& object, const char* key, std::optional<QString>& out)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

IncomingMessage decodeUsers(const QJsonObject& object)
{
    const QJsonValue data = object.value(QLatin1String("data"));
    if (!data.isArray())
        return MalformedMessage{};
    UsersMessage message;
    const QJsonArray array = data.toArray();
    message.data.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (!element.isObject())
            return MalformedMessage{};
        auto user = RemoteUser::fromJson(element.toObject());
        if (!user)
            return MalformedMessage{};
        message.data.append(std::move(*user));
    }
    return message;
}

IncomingMessage decodeRing(const QJsonObject& object)
{
    RingMessage message;
    auto from = requiredText(object, "from");
    auto to = requiredText(object, "to");
    if (!from || !to || !optionalText(object, "url", message.url) ||
        !optionalText(object, "photo", message.photo))
        return MalformedMessage{};
    message.from = *from;
    message.to = *to;
    return message;
}

IncomingMessage decodeRingResponse(const QJsonObject& object)
{
    RingResponseMessage message;
    auto from = requiredText(object, "from");
    auto to = requiredText(object, "to");
    const QJsonValue accepted = object.value(QLatin1String("accepted"));
    if (!from || !to || !accepted.isBool() || !optionalText(object, "url", message.url))
        return MalformedMessage{};
    message.from = *from;
    message.to = *to;
    message.accepted = accepted.toBool();
    return message;
}

} // namespace

IncomingMessage decodeIncomingMessage(const QByteArray& utf8)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(utf8, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return UndecodableMessage{};
    const QJsonObject object = document.object();
    const auto type = requiredText(object, "type");
    if (!type)
        return UndecodableMessage{};
    if (canonicallyEqual(*type, QStringLiteral("users")))
        return decodeUsers(object);
    if (canonicallyEqual(*type, QStringLiteral("ring")))
        return decodeRing(object);
    if (canonicallyEqual(*type, QStringLiteral("ring-response")))
        return decodeRingResponse(object);
    return UnknownMessage{*type};
}

std::optional<QString> textOfDataFrame(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString joinMessageText(const QString& team)
{
    const QJsonObject join{{QStringLiteral("type"), QStringLiteral("join")}, {QStringLiteral("team"), team}};
    return QString::fromUtf8(QJsonDocument(join).toJson(QJsonDocument::Compact));
}

} // namespace pondra::net
