#pragma once

#include "platform/core/Published.h"
#include "platform/core/Scheduler.h"
#include "records/Rings.h"

#include <QHash>
#include <QImage>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace pondra {

class HttpClient;
class SoundPlayer;
class UrlOpener;

/// What a RingManager talks to; backends left empty get the real ones.
struct RingBackends
{
    HttpClient* http = nullptr;
    SoundPlayer* sound = nullptr;
    UrlOpener* urlOpener = nullptr;
    Scheduler* scheduler = nullptr;
};

/// Both ends of a ring inside one copy: as the ringer it sends the ring and
/// shows a waiting text until the answer comes; as the one rung it holds the
/// ring that the views show, declines it by itself after 30 s and sends the
/// answer. An accepted answer may bring a meeting link, which is opened.
class RingManager final : public QObject
{
    Q_OBJECT
public:
    /// The one ring shown to the user.
    Owned<std::optional<IncomingRing>, RingManager> incomingRing;
    /// The ringer's status text ("Checking with …", "Maybe later!", the
    /// server's refusal), shown in the main window.
    Owned<std::optional<QString>, RingManager> waitingForResponse;

    using UrlSource = std::function<std::optional<QUrl>()>;
    using TextSource = std::function<QString()>;
    using PhotoSource = std::function<std::optional<QImage>()>;

    using Backends = RingBackends;

    static constexpr std::chrono::milliseconds autoDeclineDelay{30'000};
    static constexpr std::chrono::milliseconds transientTextDuration{3'000};
    static constexpr char ringSoundName[] = "ring";
    static constexpr char declinedText[] = "Maybe later!";

    RingManager(UrlSource ringURL, UrlSource ringResponseURL, TextSource getUserName, TextSource getUserId,
                TextSource getUserEmail, PhotoSource getCapturedPhoto, TextSource getApiToken,
                Backends backends = {}, QObject* parent = nullptr);
    ~RingManager() override;

    /// Rings that arrived and were not answered, keyed by ring id.
    const QHash<QString, PendingRing>& pendingRings() const { return m_pendingRings; }

    void playRingSound();
    /// `url` is what the ring message may carry; it is not kept.
    void showRingNotification(const QString& from, const std::optional<QString>& url,
                              const std::optional<QString>& photo);
    void acceptRing();
    // Ids are taken by value: clearing the shown ring may destroy the very
    // text a caller passed (the id held by a mirror of `incomingRing`).
    void dismissRing(QString ringId, bool accepted);
    void handleNotificationAction(QString notificationId, bool accepted);
    /// `from` is not compared with the teammate that was rung: the waiting
    /// text is one slot for every outgoing ring.
    void handleRingResponse(const QString& from, bool accepted, const std::optional<QString>& url);
    void sendRing(const QString& to);

Q_SIGNALS:
    /// Emitted after either published value is assigned, before its subscribers hear of it.
    void changed();

private:
    void sendRingResponse(const QString& to, bool accepted);
    void openMeetingURL(const QString& link);
    /// Shows `text` as the waiting text and clears it after 3 s unless
    /// something else replaced it in between.
    void showTransientText(const QString& text);
    std::optional<QString> encodedCapturedPhoto() const;

    QHash<QString, PendingRing> m_pendingRings;
    TimerHandle m_ringDismissTask;

    UrlSource m_ringURL;
    UrlSource m_ringResponseURL;
    TextSource m_getUserName;
    TextSource m_getUserId;
    TextSource m_getUserEmail;
    PhotoSource m_getCapturedPhoto;
    TextSource m_getApiToken;

    std::unique_ptr<UrlOpener> m_ownedUrlOpener;
    HttpClient* m_http = nullptr;
    SoundPlayer* m_sound = nullptr;
    UrlOpener* m_urlOpener = nullptr;
    Scheduler* m_scheduler = nullptr;
};

} // namespace pondra
