#pragma once

#include "records/IdleState.h"

#include <QColor>

namespace pondra::palette {

// The named colours every view draws with, close to the system colours the
// program was first drawn in, so that the same state reads the same everywhere.
QColor green();
QColor yellow();
QColor gray();
QColor orange();
QColor purple();
QColor blue();
QColor red();

/// Green, yellow or gray: the idle dot of a team member.
QColor idleColor(IdleState state);

} // namespace pondra::palette
