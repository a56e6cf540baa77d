#pragma once

#include <QString>

namespace pondra {

/**
 * Full path of a file the program ships beside itself (the helper script,
 * the bridge library, the ring sound, the tray icons), or empty when none is
 * found. $PONDRA_RESOURCE_DIR comes first, for tests. Then a program run from
 * its build tree, which the build marks with a file beside it naming the
 * build's resources folder, reads that folder only; an installed program
 * reads only its own install tree: share/pondra, then lib/pondra beside its
 * bin/. No other folder is searched, so nothing found above the program can
 * stand in for what it ships.
 */
QString resourcePath(const QString& name);

/// Full path of the program's icon, the one its desktop entry names: in an
/// install tree under share/icons/hicolor/scalable/apps, in the build tree
/// among the built resources; empty when it is missing.
QString applicationIconPath();

/// The name of the marker the build writes beside its programs.
QString buildTreeMarkerName();

} // namespace pondra
