#pragma once

#include <QString>

namespace pondra {

/// A new random UUID as 36 upper-case hexadecimal characters in 8-4-4-4-12 groups.
QString newUuidText();

} // namespace pondra
