#pragma once

#include <QFont>

namespace pondra::text {

// Text styles as pixel sizes on the application's font. "system N" is pixel
// size N; semibold is DemiBold, medium is Medium.
QFont system(int pixelSize, QFont::Weight weight = QFont::Normal);
QFont largeTitle();  ///< 26
QFont headline();    ///< 13, DemiBold
QFont body();        ///< 13
QFont subheadline(); ///< 11
QFont caption();     ///< 10

} // namespace pondra::text
