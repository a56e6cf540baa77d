#pragma once

#include <QImage>
#include <QRectF>
#include <QString>

namespace pondra::test {

/// A photo of tests/data, loaded once; aborts the test when it is missing.
QImage testPhoto(const QString& name);

/// A separable Gaussian blur with the given sigma in pixels (edges repeated).
QImage gaussianBlur(const QImage& image, double sigma);
/// Every channel multiplied by `factor`.
QImage darken(const QImage& image, double factor);

/**
 * A webcam frame made from a portrait: the photo scaled so that its face
 * (`face`, top-left pixel coordinates of the photo) is `faceWidth` pixels
 * wide, placed so that the face's centre sits at `faceCentre` of a grey frame
 * of `frameSize`.
 */
QImage webcamFrame(const QImage& portrait, const QRectF& face, double faceWidth,
                   QSize frameSize = QSize(1280, 720), QPointF faceCentre = QPointF(640, 320));

} // namespace pondra::test
