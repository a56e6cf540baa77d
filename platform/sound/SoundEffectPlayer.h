#pragma once

#include "platform/sound/SoundPlayer.h"

#include <QHash>
#include <QObject>

class QSoundEffect;

namespace pondra {

/// SoundPlayer over QSoundEffect with "<name>.wav" (PCM) from the program's
/// resources. Nothing is created while the machine has no audio output.
class SoundEffectPlayer final : public QObject, public SoundPlayer
{
    Q_OBJECT
public:
    explicit SoundEffectPlayer(QObject* parent = nullptr);
    ~SoundEffectPlayer() override;

    bool play(const QString& name) override;

private:
    QHash<QString, QSoundEffect*> m_effects;
};

} // namespace pondra
