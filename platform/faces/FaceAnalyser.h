#pragma once

#include <QImage>
#include <QRectF>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace pondra {

/// A face found in a bitmap: its box in pixels with the origin at the
/// bitmap's bottom-left corner and y growing upward.
struct FaceBox
{
    QRectF rect;
    float confidence = 0;
};

/// The capture quality from which a face makes a usable photo.
inline constexpr float usableFaceQuality = 0.4f;

/**
 * Face rectangles and capture quality. Slow (tens of milliseconds a call):
 * call it on a worker thread, never on the UI thread. An implementation may
 * be used from one thread at a time per instance.
 */
class FaceAnalyser
{
public:
    virtual ~FaceAnalyser() = default;

    /// The faces of the image, most confident first. `error` is set when the
    /// analysis itself failed (the list is then empty).
    virtual std::vector<FaceBox> detectFaces(const QImage& image, QString* error) = 0;
    /// How good a photo of the first face the image makes, 0..1: 0 without a
    /// face, below `usableFaceQuality` for a face too small, blurred, dark or
    /// turned to make a photo, and above it higher for a better photo of the
    /// same face (sharper, better lit, larger). `error` is set when the
    /// analysis failed (the score is then 0).
    virtual float captureQuality(const QImage& image, QString* error) = 0;
};

/// The dlib HOG frontal face detector with our own quality estimate.
std::shared_ptr<FaceAnalyser> makeDefaultFaceAnalyser();
/// The same, searching images larger than `reach` pixels (on the longer side)
/// for large faces first, at the cost of an image of that size; `reach` 0
/// searches every image whole (the reference the faster search matches).
std::shared_ptr<FaceAnalyser> makeDlibFaceAnalyser(long reach);

/// Answers from functions the test supplies (called on the analysis thread).
class FakeFaceAnalyser final : public FaceAnalyser
{
public:
    std::function<std::vector<FaceBox>(const QImage&)> faces;
    std::function<float(const QImage&)> quality;
    /// Non-empty: every call fails with this text.
    std::function<QString(const QImage&)> failure;

    std::vector<FaceBox> detectFaces(const QImage& image, QString* error) override;
    float captureQuality(const QImage& image, QString* error) override;
};

} // namespace pondra
