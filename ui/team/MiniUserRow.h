#pragma once

#include "ui/team/MarqueeText.h"
#include "ui/team/TeamModels.h"

#include <QWidget>

#include <chrono>

namespace pondra {

class FilledButton;
class FrameTicker;

/// One team member in the team window: the photo with its meeting badge, the
/// name, the audio marks, the scrolling status and the idle dot; while the
/// pointer is over it, "Ring" on a teammate's row, the pencil and the
/// presence toggle on the user's own, the one block fading into the other.
/// It only reports what was used; the window acts on it.
class MiniUserRow final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int rowWidth = 164;
    static constexpr int photoSide = 56;
    /// The meeting badge hangs this far past the photo's bottom-right corner.
    static constexpr int badgeOverhang = 4;
    /// How long the details and the buttons take to swap on hover.
    static constexpr std::chrono::milliseconds swapDuration{100};

    MiniUserRow(FrameTicker& ticker, QWidget* parent = nullptr);

    /// Takes the record's model; the photo is decoded only when its text changed.
    void setUser(const RemoteUser& user, const QString& userName, bool isPondraMode);
    const TeamRowModel& model() const { return m_model; }
    bool isHovering() const { return m_hovering; }
    /// How far the swap stands, eased: 0 shows the details, 1 the buttons.
    qreal swapProgress() const;
    bool isSwapping() const;
    /// Cuts the row this far below its top (a row crossing the panel's inner
    /// edge), or not at all.
    void setCut(std::optional<int> height);
    /// What lies beneath the status text (see MarqueeText::setBackdrop).
    void setBackdrop(MarqueeText::Backdrop backdrop);
    /// The row's own rectangle. The widget is taller by the badge's overhang,
    /// but only the badge counts as the row there: the gap below is nobody's.
    static QRect rowRect() { return QRect(0, 0, rowWidth, photoSide); }

    QSize sizeHint() const override { return QSize(rowWidth, photoSide + badgeOverhang); }

Q_SIGNALS:
    void ringRequested();
    void statusEditRequested();
    void presenceToggleRequested();
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void setHovering(bool hovering);
    void onSwapFrame();
    void applyModel();
    void applySwap();
    void applyShape();
    int detailTop() const;

    FrameTicker& m_ticker;
    TeamRowModel m_model;
    std::optional<QString> m_photoText;
    bool m_hasPhotoText = false;
    bool m_hasModel = false;
    bool m_hovering = false;
    /// The swap's linear progress (0 details, 1 buttons), where it started and when.
    qreal m_swap = 0;
    qreal m_swapFrom = 0;
    qint64 m_swapStartMs = 0;
    std::optional<int> m_cut;
    QRect m_nameRect;
    QString m_elidedName;
    MarqueeText* m_status = nullptr;
    FilledButton* m_ring = nullptr;
    FilledButton* m_pencil = nullptr;
    FilledButton* m_toggle = nullptr;
};

} // namespace pondra
