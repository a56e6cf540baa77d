#pragma once

#include "platform/core/Scheduler.h"
#include "platform/core/SettingsStore.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>
#include <optional>

namespace pondra {

/// The screens' usable areas (without panels and docks), as placement needs them.
struct ScreenAreas
{
    /// The primary screen's area, none without a screen.
    std::optional<QRect> primary;
    /// Every screen's area.
    QList<QRect> all;
};

/// The areas of the screens the application sees now.
ScreenAreas systemScreenAreas();

/**
 * Where the team window goes and how it is remembered. Before the first show
 * it restores the top-left corner stored under "PondraTeamWindow" (the size
 * is the window's own: its height follows its content), unless that corner
 * lies on no screen's usable area, in which case the window goes 10/10 inside
 * the primary screen's usable area (at 0,0 without a screen); it is floating when
 * "keepTeamWindowOnTop" is set at that moment. Afterwards the frame is stored
 * as "x,y,w,h" 0.5 s after the last move and whenever the window is hidden.
 */
class TeamWindowFrame final : public QObject
{
    Q_OBJECT
public:
    static constexpr int margin = 10;
    static constexpr std::chrono::milliseconds saveDelay{500};

    TeamWindowFrame(QWidget& window, SettingsStore& settings, Scheduler& scheduler,
                    std::function<ScreenAreas()> screens = systemScreenAreas, QObject* parent = nullptr);
    /// Stores a move that is still waiting for its delay.
    ~TeamWindowFrame() override;

    /// Places the window and sets its level; call once, before its first show.
    void restore();
    /// Shows the window without taking the focus from the window that has it.
    void showWithoutFocus();

    static QPoint defaultTopLeft(const ScreenAreas& screens);
    /// "x,y,w,h" as stored; none for any other text.
    static std::optional<QRect> parseFrame(const QString& text);
    static QString formatFrame(const QRect& frame);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void save();

    QPointer<QWidget> m_window;
    SettingsStore& m_settings;
    Scheduler& m_scheduler;
    std::function<ScreenAreas()> m_screens;
    TimerHandle m_pendingSave;
};

} // namespace pondra
