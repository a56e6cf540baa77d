#pragma once

#include "platform/core/Published.h"

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QPalette;

namespace pondra {

class CameraCapture;

/**
 * The tray icon's drawing, present or away: our own SVG for each mode,
 * looked up among the installed files and loaded again at every change of
 * mode. The drawing is a symbol: the icon carries the name of its installed
 * symbolic icon, which a StatusNotifierItem host draws in the panel's own
 * colour, and its pixels (for hosts that take pixels only) show the shape in
 * one colour of the application palette: its window text, or its window
 * colour where the panel around the icon is known and that shows better on
 * it (a light desktop palette beside a dark panel). A missing or
 * unreadable file falls back, for that mode only and silently, to the
 * message glyph compiled into the program.
 */
class MenuBarIcon final : public QObject
{
    Q_OBJECT
public:
    /// Finds an installed file by name; empty when there is none.
    using Locator = std::function<QString(const QString& fileName)>;

    /// The sizes, in pixels, the icon is drawn at (panels pick the nearest).
    static constexpr int sizes[] = {16, 22, 24, 32, 48};

    /// `locate` defaults to the program's resource lookup.
    explicit MenuBarIcon(CameraCapture& cameraCapture, Locator locate = {}, QObject* parent = nullptr);

    /// The drawing for the current mode.
    QIcon icon() const { return m_icon; }

    /// What the panel shows around the icon, where a host that takes pixels
    /// lets it be read; none where it is not known. A change redraws the icon.
    void setPanelBackground(std::optional<QColor> colour);
    std::optional<QColor> panelBackground() const { return m_panelBackground; }

    /// The one colour of the symbol's pixels: the palette's window text,
    /// unless `background` is known and the palette's window colour stands
    /// out more against it.
    static QColor ink(const QPalette& palette, std::optional<QColor> background);

    /// "message-circle-heart.svg" when present, "message-circle-dashed.svg" when away.
    static QString fileName(bool isPondraMode);
    /// "org.pondra.Pondra-present-symbolic" or "org.pondra.Pondra-away-symbolic":
    /// the drawing's name among the installed icons.
    static QString symbolName(bool isPondraMode);
    /// The drawing for a mode, read afresh through `locate`, for a panel of
    /// that background.
    static QIcon load(bool isPondraMode, const Locator& locate, std::optional<QColor> background = {});
    /// The compiled-in message glyph: dark on a light bubble, for light and dark panels.
    static QIcon fallback();

Q_SIGNALS:
    void iconChanged(const QIcon& icon);

private:
    void reload();

    Locator m_locate;
    bool m_isPondraMode = false;
    std::optional<QColor> m_panelBackground;
    QIcon m_icon;
    Subscription m_subscription;
};

} // namespace pondra
