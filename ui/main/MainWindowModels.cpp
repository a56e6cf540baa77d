#include "ui/main/MainWindowModels.h"

#include "app/AppState.h"
#include "app/PresencePayload.h"
#include "records/IdleState.h"
#include "ui/kit/Palette.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace pondra {

namespace {
/// The main window's texts, in its own context.
struct MainWindowTexts
{
    Q_DECLARE_TR_FUNCTIONS(pondra::ImageWindow)
};
} // namespace

StatusPillModel StatusPillModel::from(const std::optional<QString>& waitingForResponse, bool isPondraMode,
                                      double idleSeconds)
{
    constexpr qreal opacity = 0.2;
    if (waitingForResponse)
        return {*waitingForResponse, palette::withOpacity(palette::yellow(), opacity)};
    const IdleState level = IdleState::fromSeconds(idleSeconds);
    QString word;
    switch (level.value()) {
    case IdleState::active:
        word = MainWindowTexts::tr("Active");
        break;
    case IdleState::semiIdle:
        word = MainWindowTexts::tr("Semi-idle");
        break;
    case IdleState::idle:
        word = MainWindowTexts::tr("Idle");
        break;
    }
    const QString mode = isPondraMode ? MainWindowTexts::tr("Pondra") : MainWindowTexts::tr("Away");
    const QColor colour = isPondraMode ? palette::idleColor(level) : palette::gray();
    return {mode + QStringLiteral(" \u00b7 ") + word, palette::withOpacity(colour, opacity)};
}

MainHeaderModel MainHeaderModel::from(const QString& userName)
{
    if (userName.isEmpty())
        return {MainWindowTexts::tr("Set up profile..."), true, false};
    return {userName, false, true};
}

QList<PhotoBadgeMark> photoBadgeMarks(bool isInMeeting, bool isMuted, bool isPlaying, bool isUsingHeadphones)
{
    QList<PhotoBadgeMark> marks;
    if (isInMeeting)
        marks.append({Glyph::videoFill, palette::green()});
    if (isMuted)
        marks.append({Glyph::speakerSlashFill, palette::orange()});
    if (isPlaying)
        marks.append({Glyph::musicNote, palette::purple()});
    if (isUsingHeadphones)
        marks.append({Glyph::headphones, palette::blue()});
    return marks;
}

QString photoTimeText(const QDateTime& moment, const QTimeZone& zone, const QLocale& locale)
{
    // The locale's short time without its seconds field (the C locale's short
    // form has them), so the clock setting and order of the locale still hold.
    static const QRegularExpression seconds(QStringLiteral("[^hHmaAp\\s]*s+"));
    QString format = locale.timeFormat(QLocale::ShortFormat);
    format.remove(seconds);
    return locale.toString(moment.toTimeZone(zone).time(), format.trimmed());
}

QList<PresenceButtonModel> presenceButtons(bool isPondraMode, qint64 autoRetakeMinutes, bool hasUserName)
{
    if (!isPondraMode)
        return {{MainWindowTexts::tr("I'm Pondra"), true, hasUserName, PresenceAction::capture}};
    return {
        {MainWindowTexts::tr("Away"), false, true, PresenceAction::goAway},
        {autoRetakeMinutes > 0 ? MainWindowTexts::tr("Retake*") : MainWindowTexts::tr("Retake"), true, true,
         PresenceAction::capture},
    };
}

MainWindowModel MainWindowModel::read(AppState& app, const QLocale& locale)
{
    CameraCapture& capture = app.cameraCapture();
    AudioMonitor& audio = app.audioMonitor();
    NowPlayingMonitor& nowPlaying = app.nowPlayingMonitor();
    const bool present = capture.isPondraMode.get();

    MainWindowModel model;
    model.pill =
        StatusPillModel::from(app.waitingForResponse.get(), present, app.idleMonitor().idleSeconds.get());
    model.header = MainHeaderModel::from(app.userName().get());
    model.teams = app.availableTeams.get();
    model.teamName = app.teamName().get();
    model.photo = capture.capturedImage.get();
    model.badge = photoBadgeMarks(
        app.meetingMonitor().isInMeeting.get(), audio.isMuted.get(), nowPlaying.isPlaying.get(),
        isUsingHeadphones(audio.outputDeviceType.get(), audio.outputDeviceName.get()));
    if (const auto& when = capture.photoTimestamp.get())
        model.photoTime = photoTimeText(*when, app.scheduler().timeZone(), locale);
    model.showsBadPhotoNotice = capture.photoSkipped.get();
    const QString& status = app.userStatus().get();
    model.statusIsPlaceholder = status.isEmpty();
    model.statusText = status.isEmpty() ? MainWindowTexts::tr("Set a status...") : status;
    const QString track = nowPlaying.nowPlayingText();
    if (app.includeNowPlaying().get() && !track.isEmpty())
        model.nowPlaying = track;
    model.buttons = presenceButtons(present, app.autoRetakeMinutes().get(), app.hasUserName());
    return model;
}

bool MainWindowModel::operator==(const MainWindowModel& other) const
{
    // Photos by identity: comparing their pixels once a second would be waste.
    const auto photoKey = [](const std::optional<QImage>& photo) {
        return photo ? std::optional<qint64>(photo->cacheKey()) : std::nullopt;
    };
    return pill == other.pill && header == other.header && teams == other.teams &&
           teamName == other.teamName && photoKey(photo) == photoKey(other.photo) && badge == other.badge &&
           photoTime == other.photoTime && showsBadPhotoNotice == other.showsBadPhotoNotice &&
           statusText == other.statusText && statusIsPlaceholder == other.statusIsPlaceholder &&
           nowPlaying == other.nowPlaying && buttons == other.buttons;
}

} // namespace pondra
