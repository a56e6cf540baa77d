#pragma once

#include "records/IdleState.h"
#include "ui/kit/Glyphs.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QWidget>

#include <optional>

namespace pondra {

/// What a teammate's row shows.
struct UserRowModel
{
    QString name;
    std::optional<QImage> image;
    bool isPlayingAudio = false;
    bool isUsingHeadphones = false;
    bool isInMeeting = false;
    IdleState idleState;

    /// The marks before the dot, in this order: meeting (green), music
    /// (purple), headphones (blue), each only when it applies.
    QList<TintedGlyph> marks() const;
    QColor dotColour() const;
};

/**
 * A row for one teammate: a 50-pixel photo (or the gray placeholder), the
 * name, then the meeting, music and headphones marks and the idle dot at the
 * right edge. Nothing in the program shows it.
 */
class UserRow final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int photoSide = 50;
    static constexpr int photoRadius = 8;
    static constexpr int spacing = 12;
    static constexpr int markSpacing = 8;
    static constexpr int markSize = 13;
    static constexpr int dotSide = 12;
    static constexpr int verticalPadding = 4;

    UserRow(const QString& name, std::optional<QImage> image, bool isPlayingAudio, bool isUsingHeadphones,
            bool isInMeeting, IdleState idleState, QWidget* parent = nullptr);

    const UserRowModel& model() const { return m_model; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int marksWidth() const;

    UserRowModel m_model;
};

} // namespace pondra
