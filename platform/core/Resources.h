#pragma once

#include <QString>

namespace pondra {

/**
 * Full path of a file the program ships beside itself (the helper script,
 * the bridge library, the ring sound), or empty when none is found. Looks in
 * $PONDRA_RESOURCE_DIR, then in a "resources" folder up to three levels above
 * the executable (the build tree), then in ../share/pondra and ../lib/pondra
 * (an installed tree).
 */
QString resourcePath(const QString& name);

} // namespace pondra
