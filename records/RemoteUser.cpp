#include "records/RemoteUser.h"

#include "records/PhotoDecoder.h"

#include <QJsonValue>

namespace pondra {

namespace {
class Reader
{
public:
    Reader(const QJsonObject& object, QString* error) : m_object(object), m_error(error) {}

    bool ok() const { return m_ok; }

    QString text(const char* key) { return required(key, QJsonValue::String).toString(); }
    bool flag(const char* key) { return required(key, QJsonValue::Bool).toBool(); }
    double number(const char* key) { return required(key, QJsonValue::Double).toDouble(); }

    std::optional<QString> optionalText(const char* key)
    {
        const QJsonValue v = optional(key, QJsonValue::String);
        return v.isString() ? std::optional<QString>(v.toString()) : std::nullopt;
    }
    std::optional<bool> optionalFlag(const char* key)
    {
        const QJsonValue v = optional(key, QJsonValue::Bool);
        return v.isBool() ? std::optional<bool>(v.toBool()) : std::nullopt;
    }

private:
    QJsonValue required(const char* key, QJsonValue::Type type)
    {
        if (!m_ok)
            return {};
        const QJsonValue v = m_object.value(QLatin1String(key));
        if (v.type() != type)
            fail(key, v.isUndefined() ? "is missing" : v.isNull() ? "is null" : "has the wrong type");
        return v;
    }
    QJsonValue optional(const char* key, QJsonValue::Type type)
    {
        if (!m_ok)
            return {};
        const QJsonValue v = m_object.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return {};
        if (v.type() != type)
            fail(key, "has the wrong type");
        return v;
    }
    void fail(const char* key, const char* what)
    {
        m_ok = false;
        if (m_error)
            *m_error = QStringLiteral("key \"%1\" %2").arg(QLatin1String(key), QLatin1String(what));
    }

    const QJsonObject& m_object;
    QString* m_error;
    bool m_ok = true;
};
} // namespace

std::optional<RemoteUser> RemoteUser::fromJson(const QJsonObject& object, QString* error)
{
    Reader r(object, error);
    RemoteUser u;
    // Declaration order: the first failing key decides the error.
    u.id = r.text("id");
    u.name = r.text("name");
    u.team = r.text("team");
    u.isPondra = r.flag("isPondra");
    u.isIdle = r.flag("isIdle");
    u.idleState = r.text("idleState");
    u.idleSeconds = r.number("idleSeconds");
    u.isPlayingAudio = r.optionalFlag("isPlayingAudio");
    u.isMuted = r.optionalFlag("isMuted");
    u.isUsingHeadphones = r.optionalFlag("isUsingHeadphones");
    u.isInMeeting = r.optionalFlag("isInMeeting");
    u.meetingApp = r.optionalText("meetingApp");
    u.photo = r.optionalText("photo");
    u.status = r.optionalText("status");
    u.lastUpdate = r.text("lastUpdate");
    if (!r.ok())
        return std::nullopt;
    return u;
}

QJsonObject RemoteUser::toJson() const
{
    QJsonObject o{{QStringLiteral("id"), id},
                  {QStringLiteral("name"), name},
                  {QStringLiteral("team"), team},
                  {QStringLiteral("isPondra"), isPondra},
                  {QStringLiteral("isIdle"), isIdle},
                  {QStringLiteral("idleState"), idleState},
                  {QStringLiteral("idleSeconds"), idleSeconds}};
    auto put = [&o](const char* key, const auto& value) {
        if (value)
            o.insert(QLatin1String(key), *value);
    };
    put("isPlayingAudio", isPlayingAudio);
    put("isMuted", isMuted);
    put("isUsingHeadphones", isUsingHeadphones);
    put("isInMeeting", isInMeeting);
    put("meetingApp", meetingApp);
    put("photo", photo);
    put("status", status);
    o.insert(QStringLiteral("lastUpdate"), lastUpdate);
    return o;
}

std::optional<QImage> RemoteUser::decodedPhoto() const
{
    if (!photo)
        return std::nullopt;
    return decodePhotoText(*photo);
}

} // namespace pondra
