#include "platform/sound/SoundEffectPlayer.h"

#include "platform/core/Resources.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

namespace pondra {

SoundEffectPlayer::SoundEffectPlayer(QObject* parent) : QObject(parent) {}

SoundEffectPlayer::~SoundEffectPlayer() = default;

bool SoundEffectPlayer::play(const QString& name)
{
    // Without an output device there is nothing to play on, and the media
    // stack is better left untouched on such machines.
    if (QMediaDevices::audioOutputs().isEmpty())
        return false;
    QSoundEffect* effect = m_effects.value(name);
    if (!effect) {
        const QString path = resourcePath(name + QStringLiteral(".wav"));
        if (path.isEmpty())
            return false;
        effect = new QSoundEffect(this);
        effect->setSource(QUrl::fromLocalFile(path));
        m_effects.insert(name, effect);
    }
    if (effect->status() == QSoundEffect::Error)
        return false;
    // While the file is still loading, QSoundEffect queues the play request.
    effect->play();
    return true;
}

} // namespace pondra
