#pragma once

#include "platform/pointer/PointerAndScreens.h"
#include "records/IdleState.h"
#include "records/RemoteUser.h"
#include "ui/kit/Glyphs.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

#include <optional>

namespace pondra {

/// One small mark of a row's audio line.
struct AudioMark
{
    Glyph glyph;
    QColor colour;
    bool operator==(const AudioMark&) const = default;
};

/// What the team row shows in place of its details while the pointer is over it.
enum class RowAction
{
    ring,
    updateStatus,
    togglePresence,
};

/// What one team row draws, from one presence record.
struct TeamRowModel
{
    QString name;
    std::optional<QImage> photo;
    IdleState idleState;
    bool isPlayingAudio = false;
    bool isMuted = false;
    bool isUsingHeadphones = false;
    bool isInMeeting = false;
    std::optional<QString> status;
    /// The user's own record: its name is the user's name, by canonical equivalence.
    bool isSelf = false;
    /// The local user's present mode (given to every row; only the own row shows it).
    bool isPondra = false;
    /// The member's own present mode, as their record says (a sighted user
    /// sees it in their photo): told to screen readers only.
    bool isMemberPondra = false;

    /// Everything but the photo, which the row decodes only when it changed.
    static TeamRowModel from(const RemoteUser& user, const QString& userName, bool isPondraMode);

    /// At most one of muted (orange) or playing (purple), then headphones (blue).
    QList<AudioMark> audioMarks() const;
    /// A status line only for a present, non-empty status (one space counts).
    bool showsStatus() const { return status && !status->isEmpty(); }
    /// "Ring" on a teammate's row; the pencil and the presence toggle on the own row.
    QList<RowAction> hoverActions() const;
    /// What a screen reader says of the row after the member's name: present or
    /// away, the activity, the meeting and audio marks, then the status.
    QString accessibleDescription() const;

    /// The presence toggle names the change it makes: "Away" while present.
    QString toggleLabel() const;
    Glyph toggleGlyph() const;
    QColor toggleFill() const;

    bool operator==(const TeamRowModel&) const = default;
};

/// The team window's header.
struct TeamHeaderModel
{
    /// One line, plain.
    QString teamName;
    /// The orange dot and "reconnecting", while the connection is down.
    bool showsReconnecting = false;

    static TeamHeaderModel from(const QString& teamName, bool isConnected);
    bool operator==(const TeamHeaderModel&) const = default;
};

/// Rows are kept per record identity: the id and which occurrence of that id
/// it is, so a list with repeated ids still shows every record.
struct RowKey
{
    QString id;
    int occurrence = 0;
    bool operator==(const RowKey&) const = default;
};
QList<RowKey> rowKeys(const QList<RemoteUser>& users);

/// The most height the team window may take where `frame` is: the room from
/// its top to the bottom of the usable area of its screen (the screen whose
/// frame holds its top-left corner, else the one it overlaps most, else the
/// first); none without a screen. Can be 0 or less for a window moved below
/// that area.
std::optional<int> teamWindowRoom(const QList<ScreenArea>& screens, const QRect& frame);

} // namespace pondra
