#include "ui/team/TeamModels.h"

#include "records/Text.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PlainText.h"

#include <QCoreApplication>
#include <QHash>

namespace pondra {

namespace {
/// The row's texts, in the row's own context.
struct RowTexts
{
    Q_DECLARE_TR_FUNCTIONS(pondra::MiniUserRow)
};
} // namespace

TeamRowModel TeamRowModel::from(const RemoteUser& user, const QString& userName, bool isPondraMode)
{
    TeamRowModel m;
    m.name = user.name;
    m.idleState = IdleState::fromString(user.idleState);
    m.isPlayingAudio = user.isPlayingAudio.value_or(false);
    m.isMuted = user.isMuted.value_or(false);
    m.isUsingHeadphones = user.isUsingHeadphones.value_or(false);
    m.isInMeeting = user.isInMeeting.value_or(false);
    m.status = user.status;
    m.isSelf = canonicallyEqual(user.name, userName);
    m.isPondra = isPondraMode;
    m.isMemberPondra = user.isPondra;
    return m;
}

QList<AudioMark> TeamRowModel::audioMarks() const
{
    QList<AudioMark> marks;
    if (isMuted)
        marks.append({Glyph::speakerSlashFill, palette::orange()});
    else if (isPlayingAudio)
        marks.append({Glyph::musicNote, palette::purple()});
    if (isUsingHeadphones)
        marks.append({Glyph::headphones, palette::blue()});
    return marks;
}

QList<RowAction> TeamRowModel::hoverActions() const
{
    if (isSelf)
        return {RowAction::updateStatus, RowAction::togglePresence};
    return {RowAction::ring};
}

QString TeamRowModel::accessibleDescription() const
{
    QStringList parts{isMemberPondra ? RowTexts::tr("present") : RowTexts::tr("away")};
    switch (idleState.value()) {
    case IdleState::active:
        parts.append(RowTexts::tr("active"));
        break;
    case IdleState::semiIdle:
        parts.append(RowTexts::tr("semi-idle"));
        break;
    case IdleState::idle:
        parts.append(RowTexts::tr("idle"));
        break;
    }
    if (isInMeeting)
        parts.append(RowTexts::tr("in a meeting"));
    // The same marks as the audio line: muted hides playing.
    for (const AudioMark& mark : audioMarks()) {
        if (mark.glyph == Glyph::speakerSlashFill)
            parts.append(RowTexts::tr("muted"));
        else if (mark.glyph == Glyph::musicNote)
            parts.append(RowTexts::tr("playing audio"));
        else if (mark.glyph == Glyph::headphones)
            parts.append(RowTexts::tr("on headphones"));
    }
    if (showsStatus())
        parts.append(RowTexts::tr("status: %1").arg(plainText::oneLine(*status)));
    return parts.join(QStringLiteral(", "));
}

QString TeamRowModel::toggleLabel() const
{
    return isPondra ? RowTexts::tr("Away") : RowTexts::tr("Pondra");
}

Glyph TeamRowModel::toggleGlyph() const
{
    return isPondra ? Glyph::moonFill : Glyph::sunMaxFill;
}

QColor TeamRowModel::toggleFill() const
{
    return isPondra ? palette::gray() : palette::green();
}

TeamHeaderModel TeamHeaderModel::from(const QString& teamName, bool isConnected)
{
    return TeamHeaderModel{plainText::oneLine(teamName), !isConnected};
}

QList<RowKey> rowKeys(const QList<RemoteUser>& users)
{
    QList<RowKey> keys;
    keys.reserve(users.size());
    QHash<QString, int> seen;
    for (const RemoteUser& u : users)
        keys.append(RowKey{u.id, seen[u.id]++});
    return keys;
}

std::optional<int> teamWindowRoom(const QList<ScreenArea>& screens, const QRect& frame)
{
    if (screens.isEmpty())
        return std::nullopt;
    const ScreenArea* home = nullptr;
    for (const ScreenArea& screen : screens) {
        if (screen.frame.contains(frame.topLeft())) {
            home = &screen;
            break;
        }
    }
    if (!home) {
        // A corner off every screen (a window pushed past the left or top
        // edge): the screen that shows most of it.
        const auto overlap = [&](const ScreenArea& screen) {
            const QRect common = screen.frame.intersected(frame);
            return common.isEmpty() ? 0LL : qint64(common.width()) * common.height();
        };
        home = &screens.first();
        for (const ScreenArea& screen : screens) {
            if (overlap(screen) > overlap(*home))
                home = &screen;
        }
    }
    return home->visibleFrame.bottom() + 1 - frame.top();
}

} // namespace pondra
