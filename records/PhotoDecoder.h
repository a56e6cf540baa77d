#pragma once

#include <QImage>
#include <QString>

#include <optional>

namespace pondra {

/// Limits on photos that arrive from peers.
inline constexpr qsizetype maxPhotoTextLength = 2 * 1024 * 1024;
inline constexpr int maxPhotoSide = 4096;
/// The most a photo may need when decoded whole, judged from its header.
inline constexpr qint64 maxPhotoDecodeBytes = 16 * 1024 * 1024;
/// Decoded photos are at most this long on their longer side: what our own
/// pipeline sends, and more than any view draws.
inline constexpr int decodedPhotoSide = 320;

/**
 * Decodes a peer's photo text: strict, padded, standard base64 of a JPEG or
 * PNG of at most 4096×4096 pixels whose whole decode needs at most 16 MiB.
 * Anything else gives none. The image comes back at most 320 px on its
 * longer side (JPEG is decoded at a reduced scale), in a 32-bit format.
 * Results (also failures) are kept in a bounded cache keyed by the text, so
 * drawing the team again never decodes the same photo twice. Thread-safe.
 */
std::optional<QImage> decodePhotoText(const QString& text);

/// Strict base64: alphabet A–Z a–z 0–9 + /, length a multiple of 4, "=" only
/// as the final padding. No white space.
bool isStrictBase64(const QString& text);

/// Empties the decode cache (benchmarks and tests).
void clearPhotoCache();

} // namespace pondra
