#pragma once

#include "platform/faces/FaceAnalyser.h"

#include <QImage>
#include <QRect>
#include <QSizeF>

namespace pondra {

/// The box every processed photo is fitted into.
inline constexpr QSizeF photoTargetSize{320, 240};

/// The square around a face (bottom-left pixel coordinates, as FaceBox),
/// twice the face's larger side, moved and cut to lie inside the image;
/// returned in top-left pixel coordinates before widening to whole pixels.
QRectF faceCropRect(QSize imageSize, const QRectF& faceRect);
/// The centred square of the image's shorter side, top-left coordinates.
QRectF centerSquareRect(QSize imageSize);
/// The rectangle widened to whole pixels and cut to the image; the input
/// image itself when nothing is left.
QImage cropWidened(const QImage& image, const QRectF& rect);
/// Fitted into `photoTargetSize`, enlarged when smaller, with smooth scaling.
QImage scaleToTarget(const QImage& image);

/// Square cells of `scale` pixels on a grid anchored at (150, 150) from the
/// bottom-left corner, each filled with the mean colour of its pixels inside
/// the image. The output is the input widened to whole cells; the added
/// strip takes its cells' colours.
QImage pixelate(const QImage& image, int scale);

struct ProcessedPhoto
{
    QImage image;
    bool faceDetected = false;
    /// Set when the detector failed (the photo is then cropped as faceless).
    QString detectionError;
};

/// Face detection, crop to the first face or the centre, scale. Slow: runs on
/// the analysis thread.
ProcessedPhoto processImage(const QImage& image, FaceAnalyser& analyser);

} // namespace pondra
