#pragma once

#include <QString>

namespace pondra {

/// Canonical equivalence of two texts (both normalised to NFC): how names,
/// message types and the presence record's texts are compared.
bool canonicallyEqual(const QString& a, const QString& b);

} // namespace pondra
