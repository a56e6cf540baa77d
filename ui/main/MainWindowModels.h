#pragma once

#include "ui/kit/Glyphs.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QLocale>
#include <QString>
#include <QTimeZone>

#include <optional>

namespace pondra {

class AppState;

/// The pill at the top of the main window: a ring's waiting text, or the
/// present/away mode and the activity level.
struct StatusPillModel
{
    QString text;
    /// Already at the pill's 20 % opacity.
    QColor fill;

    /// A waiting text, even an empty one, stands alone on yellow; otherwise
    /// "Pondra" or "Away", " · " and the level word of the idle bands (not a
    /// number counts as idle), on gray while away, else the band's colour.
    static StatusPillModel from(const std::optional<QString>& waitingForResponse, bool isPondraMode,
                                double idleSeconds);
    bool operator==(const StatusPillModel&) const = default;
};

/// The name line: the name, or an invitation to set the profile up; the team
/// picker only beside a name.
struct MainHeaderModel
{
    QString nameText;
    /// Drawn in the secondary colour ("Set up profile...").
    bool isPlaceholder = false;
    bool showsTeamPicker = false;

    static MainHeaderModel from(const QString& userName);
    bool operator==(const MainHeaderModel&) const = default;
};

/// One mark of the badge on the photo's top-right corner.
struct PhotoBadgeMark
{
    Glyph glyph;
    QColor colour;
    bool operator==(const PhotoBadgeMark&) const = default;
};

/// In this order, each while its condition holds: meeting (green), muted
/// (orange), playing (purple), headphones (blue); they do not exclude one another.
QList<PhotoBadgeMark> photoBadgeMarks(bool isInMeeting, bool isMuted, bool isPlaying, bool isUsingHeadphones);

/// The photo's time: hour and minute in `locale`'s short form, in `zone`.
QString photoTimeText(const QDateTime& moment, const QTimeZone& zone, const QLocale& locale = QLocale());

/// What the buttons under the photo do.
enum class PresenceAction
{
    goAway,
    capture,
};

struct PresenceButtonModel
{
    QString label;
    /// Filled with the accent colour; otherwise a plain bordered button.
    bool prominent = false;
    bool enabled = true;
    PresenceAction action = PresenceAction::capture;
    bool operator==(const PresenceButtonModel&) const = default;
};

/// Present: "Away" and "Retake" ("Retake*" while auto-retake runs); away:
/// "I'm Pondra", enabled only with a name.
QList<PresenceButtonModel> presenceButtons(bool isPondraMode, qint64 autoRetakeMinutes, bool hasUserName);

/// Everything the main window draws, read from the state at one moment.
struct MainWindowModel
{
    StatusPillModel pill;
    MainHeaderModel header;
    QStringList teams;
    QString teamName;
    std::optional<QImage> photo;
    QList<PhotoBadgeMark> badge;
    /// Absent without a photo time.
    std::optional<QString> photoTime;
    bool showsBadPhotoNotice = false;
    QString statusText;
    /// Drawn in the secondary colour ("Set a status...").
    bool statusIsPlaceholder = false;
    /// Absent unless the track is shared and something plays.
    std::optional<QString> nowPlaying;
    QList<PresenceButtonModel> buttons;

    static MainWindowModel read(AppState& app, const QLocale& locale = QLocale());
    bool operator==(const MainWindowModel& other) const;
};

} // namespace pondra
