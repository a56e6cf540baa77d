#include "ui/team/TeamModels.h"

#include "records/Text.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PlainText.h"

#include <QCoreApplication>
#include <QHash>

namespace pondra {

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
    const auto text = [](const char* source) { return QCoreApplication::translate("pondra::MiniUserRow", source); };
    QStringList parts{isMemberPondra ? text(QT_TRANSLATE_NOOP("pondra::MiniUserRow", "present"))
                                     : text(QT_TRANSLATE_NOOP("pondra::MiniUserRow", "away"))};
    switch (idleState.value()) {
    case IdleState::active:
        parts.append(text(QT_TRANSLATE_NOOP("pondra::MiniUserRow", "active")));
        break;
    case IdleState::semiIdle:
        parts.append(text(QT_TRANSLATE_NOOP("pondra::MiniUserRow", "semi-idle")));
        break;
    case IdleState::idle:
        parts.append(text(QT_TRANSLATE_NOOP("pondra::MiniUserRow", "idle")));
        break;
    }
    if (isInMeeting)
        parts.append(text(QT_TRANSLATE_NOOP("pondra::MiniUserRow", "in a meeting")));
    // The same marks as the audio line: muted hides playing.
    for (const AudioMark& mark : audioMarks()) {
        if (mark.glyph == Glyph::speakerSlashFill)
            parts.append(text(QT_TRANSLATE_NOOP("pondra::MiniUserRow", "muted")));
        else if (mark.glyph == Glyph::musicNote)
            parts.append(text(QT_TRANSLATE_NOOP("pondra::MiniUserRow", "playing audio")));
        else if (mark.glyph == Glyph::headphones)
            parts.append(text(QT_TRANSLATE_NOOP("pondra::MiniUserRow", "on headphones")));
    }
    if (showsStatus())
        parts.append(QCoreApplication::translate("pondra::MiniUserRow", "status: %1").arg(plainText::oneLine(*status)));
    return parts.join(QStringLiteral(", "));
}

QString TeamRowModel::toggleLabel() const
{
    return isPondra ? QCoreApplication::translate("pondra::MiniUserRow", "Away") : QCoreApplication::translate("pondra::MiniUserRow", "Pondra");
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

} // namespace pondra
