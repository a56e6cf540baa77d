#pragma once

#include "records/IdleState.h"

#include <QColor>
#include <QPalette>

class QWidget;

namespace pondra::palette {

// The named colours every view draws with, one per meaning (an idle level, a
// mark, a prominent button), so that the same state reads the same everywhere.
QColor green();
QColor yellow();
QColor gray();
QColor orange();
QColor purple();
QColor blue();
QColor red();
QColor white();

/// Green, yellow or gray: the idle dot of a team member.
QColor idleColor(IdleState state);

/// `colour` with its alpha multiplied by `opacity` (0–1).
QColor withOpacity(QColor colour, qreal opacity);

/// Text of the window's palette: names, the status, labels.
QColor primary(const QPalette& palette);
/// Quieter text (team name, captions): window text at 55 % alpha.
QColor secondary(const QPalette& palette);
/// The panels' fill: window colour at 85 % alpha. X11 has no blur behind
/// windows, so this stands in for the frosted material.
QColor material(const QPalette& palette);
/// The small labels laid over a photo: window colour at 40 % alpha, so the
/// photo shows through as it would through a thin frosted pane.
QColor thinMaterial(const QPalette& palette);

/// Draws the widget's text (its palette's window text) in `colour`.
void setTextColour(QWidget& widget, const QColor& colour);

} // namespace pondra::palette
