#include "rings/RingManager.h"

#include "platform/core/Log.h"
#include "platform/core/Uuid.h"
#include "platform/http/HttpClient.h"
#include "platform/http/QtHttpClient.h"
#include "platform/sound/SoundEffectPlayer.h"
#include "platform/urlopener/DesktopUrlOpener.h"
#include "records/PhotoDecoder.h"

#include <QBuffer>
#include <QJsonDocument>
#include <QJsonObject>

namespace pondra {

namespace {

constexpr int photoJpegQuality = 70;
const QString invalidAddressText = QStringLiteral("The server address is not a valid URL");

/// The reply to an accepted answer: "ok" must be a boolean (its value does
/// not matter), "url" is an optional string. Anything else fails whole.
struct RingResponseBody
{
    bool ok = false;
    std::optional<QString> url;

    static std::optional<RingResponseBody> decode(const QByteArray& bytes)
    {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject())
            return std::nullopt;
        const QJsonObject object = document.object();
        const QJsonValue ok = object.value(QLatin1String("ok"));
        if (!ok.isBool())
            return std::nullopt;
        RingResponseBody body{ok.toBool(), std::nullopt};
        const QJsonValue url = object.value(QLatin1String("url"));
        if (url.isString())
            body.url = url.toString();
        else if (!url.isUndefined() && !url.isNull())
            return std::nullopt;
        return body;
    }
};

/// The "error" text of a refusal, when the body is a JSON object that has one.
std::optional<QString> refusalText(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue text = document.object().value(QLatin1String("error"));
    if (!text.isString())
        return std::nullopt;
    return text.toString();
}

} // namespace

RingManager::RingManager(UrlSource ringURL, UrlSource ringResponseURL, TextSource getUserName,
                         TextSource getUserId, TextSource getUserEmail, PhotoSource getCapturedPhoto,
                         TextSource getApiToken, Backends backends, QObject* parent)
    : QObject(parent), m_ringURL(std::move(ringURL)), m_ringResponseURL(std::move(ringResponseURL)),
      m_getUserName(std::move(getUserName)), m_getUserId(std::move(getUserId)),
      m_getUserEmail(std::move(getUserEmail)), m_getCapturedPhoto(std::move(getCapturedPhoto)),
      m_getApiToken(std::move(getApiToken)), m_http(backends.http), m_sound(backends.sound),
      m_urlOpener(backends.urlOpener), m_scheduler(backends.scheduler)
{
    // Real backends that are QObjects are children, so they go only after
    // this object stops being a valid context for their late replies.
    if (!m_http)
        m_http = new QtHttpClient(this);
    if (!m_sound)
        m_sound = new SoundEffectPlayer(this);
    if (!m_urlOpener) {
        m_ownedUrlOpener = std::make_unique<DesktopUrlOpener>();
        m_urlOpener = m_ownedUrlOpener.get();
    }
    if (!m_scheduler)
        m_scheduler = &RealScheduler::instance();

    incomingRing.setChangeHook([this] { Q_EMIT changed(); });
    waitingForResponse.setChangeHook([this] { Q_EMIT changed(); });
}

RingManager::~RingManager() = default;

void RingManager::playRingSound()
{
    m_sound->play(QLatin1String(ringSoundName));
}

void RingManager::showRingNotification(const QString& from, const std::optional<QString>& /*url*/,
                                       const std::optional<QString>& photo)
{
    logInfo(lcRing, "showRingNotification called from: %s", from);
    const QString id = newUuidText();
    const std::optional<QImage> image = photo ? decodePhotoText(*photo) : std::nullopt;
    m_pendingRings.insert(id, PendingRing{from, id, m_scheduler->now().addMSecs(autoDeclineDelay.count())});
    // The ring shown before, if any, keeps its pending entry and is never
    // answered: peers only ever hear about the newest one.
    incomingRing.set(IncomingRing{id, from, image});
    m_ringDismissTask.cancel();
    m_ringDismissTask = m_scheduler->after(autoDeclineDelay, this, [this, id] { dismissRing(id, false); });
}

void RingManager::acceptRing()
{
    const std::optional<IncomingRing> ring = incomingRing.get();
    if (!ring)
        return;
    m_ringDismissTask.cancel();
    m_ringDismissTask = {};
    incomingRing.set(std::nullopt);
    handleNotificationAction(ring->id, true);
}

void RingManager::dismissRing(QString ringId, bool accepted)
{
    if (!incomingRing.get() || incomingRing.get()->id != ringId)
        return;
    m_ringDismissTask.cancel();
    m_ringDismissTask = {};
    incomingRing.set(std::nullopt);
    handleNotificationAction(ringId, accepted);
}

void RingManager::handleNotificationAction(QString notificationId, bool accepted)
{
    // The card is left as it is: when it was this ring, its own 30 s run out
    // later and find nothing pending, so no second answer goes out.
    const auto entry = m_pendingRings.constFind(notificationId);
    if (entry == m_pendingRings.constEnd())
        return;
    const QString caller = entry->from;
    m_pendingRings.erase(entry);
    sendRingResponse(caller, accepted);
}

void RingManager::handleRingResponse(const QString& /*from*/, bool accepted,
                                     const std::optional<QString>& url)
{
    if (!accepted) {
        showTransientText(QLatin1String(declinedText));
        return;
    }
    waitingForResponse.set(std::nullopt);
    if (url)
        openMeetingURL(*url);
}

void RingManager::sendRing(const QString& to)
{
    waitingForResponse.set(QStringLiteral("Checking with ") + to + QStringLiteral("..."));

    QJsonObject body{
        {QStringLiteral("from"), m_getUserName()},
        {QStringLiteral("fromId"), m_getUserId()},
        {QStringLiteral("to"), to},
    };
    if (const QString email = m_getUserEmail(); !email.isEmpty())
        body.insert(QStringLiteral("email"), email);
    if (const std::optional<QString> photo = encodedCapturedPhoto())
        body.insert(QStringLiteral("photo"), *photo);

    const std::optional<QUrl> url = m_ringURL();
    if (!url) {
        logError(lcRing, "Failed to send ring: %@", invalidAddressText);
        return;
    }
    m_http->postJson(*url, QJsonDocument(body).toJson(QJsonDocument::Compact), m_getApiToken(), this,
                     [this](const HttpReply& reply) {
                         if (!reply.status) {
                             logError(lcRing, "Failed to send ring: %@", reply.errorText);
                             return;
                         }
                         // On success the waiting text stays until the teammate answers.
                         if (*reply.status == 200)
                             return;
                         logError(lcRing, "Ring failed with status: %ld", *reply.status);
                         if (const std::optional<QString> text = refusalText(reply.body))
                             showTransientText(*text);
                     });
}

void RingManager::sendRingResponse(const QString& to, bool accepted)
{
    const QJsonObject body{
        {QStringLiteral("from"), m_getUserName()},
        {QStringLiteral("to"), to},
        {QStringLiteral("accepted"), accepted},
    };
    const std::optional<QUrl> url = m_ringResponseURL();
    if (!url) {
        logError(lcRing, "Failed to send ring response: %@", invalidAddressText);
        return;
    }
    m_http->postJson(*url, QJsonDocument(body).toJson(QJsonDocument::Compact), m_getApiToken(), this,
                     [this, accepted](const HttpReply& reply) {
                         if (!reply.status) {
                             logError(lcRing, "Failed to send ring response: %@", reply.errorText);
                             return;
                         }
                         if (*reply.status != 200) {
                             logError(lcRing, "Ring response failed with status: %ld", *reply.status);
                             return;
                         }
                         if (!accepted)
                             return;
                         const std::optional<RingResponseBody> decoded = RingResponseBody::decode(reply.body);
                         if (decoded && decoded->url)
                             openMeetingURL(*decoded->url);
                     });
}

void RingManager::openMeetingURL(const QString& link)
{
    QUrl url(link, QUrl::StrictMode);
    if (!url.isValid())
        return;
    // Peers choose these links, so only web pages are handed to the desktop.
    if (!isWebLink(url)) {
        logError(lcRing, "Refusing to open meeting link with scheme %s", url.scheme());
        return;
    }
    if (const QString email = m_getUserEmail(); !email.isEmpty()) {
        // The existing query stays byte for byte and "authuser" follows it,
        // also when the link already names one. The e-mail is encoded so
        // that "+", "&", "=" and "#" in it stay part of the value.
        QString query = url.query(QUrl::FullyEncoded);
        if (!query.isEmpty())
            query += u'&';
        query += QStringLiteral("authuser=") + QString::fromLatin1(QUrl::toPercentEncoding(email, "@"));
        url.setQuery(query, QUrl::StrictMode);
        if (!url.isValid())
            return;
    }
    m_urlOpener->open(url);
}

void RingManager::showTransientText(const QString& text)
{
    waitingForResponse.set(text);
    m_scheduler->after(transientTextDuration, this, [this, text] {
        if (waitingForResponse.get() == text)
            waitingForResponse.set(std::nullopt);
    });
}

std::optional<QString> RingManager::encodedCapturedPhoto() const
{
    const std::optional<QImage> photo = m_getCapturedPhoto();
    if (!photo || photo->isNull())
        return std::nullopt;
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    if (!buffer.open(QIODevice::WriteOnly) || !photo->save(&buffer, "JPEG", photoJpegQuality) ||
        jpeg.isEmpty())
        return std::nullopt;
    return QString::fromLatin1(jpeg.toBase64());
}

} // namespace pondra
