// The dlib detector lives in this one translation unit: its headers are heavy
// and must not leak into the rest of the program.
#include "platform/faces/FaceAnalyser.h"

#include <dlib/image_processing/frontal_face_detector.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <exception>

namespace pondra {

namespace {

struct Detection
{
    QRect box; // top-left origin, whole pixels
    double score = 0;
    unsigned long pose = 0;
};

struct ThreadDetector
{
    // Building the detector takes about 300 ms: once per thread, on first use.
    dlib::frontal_face_detector detector = dlib::get_frontal_face_detector();
    // The chosen burst frame is scored and then detected again; remembering
    // the last few answers saves the second run.
    std::deque<std::pair<qint64, std::vector<Detection>>> recent;
};

ThreadDetector& threadDetector()
{
    thread_local ThreadDetector detector;
    return detector;
}

QImage grayOf(const QImage& image)
{
    return image.convertToFormat(QImage::Format_Grayscale8);
}

// Qt's image code (conversion, scaling, drawing) runs AVX2/AVX-512 paths
// and may return with the upper halves of the vector registers in use.
// dlib's detector is built for plain SSE2; legacy SSE instructions after
// dirty upper state pay a transition penalty on each one, which made a
// 640×480 detection about three times slower (≈ 75 ms instead of ≈ 22 ms).
// Clearing the upper halves first changes no value, only the speed.
void clearUpperVectorState()
{
#if defined(__x86_64__) || defined(__i386__)
    static const bool hasAvx = __builtin_cpu_supports("avx");
    if (hasAvx)
        __asm__ volatile("vzeroupper" ::: "memory");
#endif
}

std::vector<Detection> detect(const QImage& image)
{
    ThreadDetector& td = threadDetector();
    const qint64 key = image.cacheKey();
    for (const auto& [k, dets] : td.recent)
        if (k == key)
            return dets;

    const QImage gray = grayOf(image);
    dlib::array2d<unsigned char> pixels(gray.height(), gray.width());
    for (int y = 0; y < gray.height(); ++y)
        std::copy_n(gray.constScanLine(y), gray.width(), &pixels[y][0]);
    std::vector<dlib::rect_detection> found;
    clearUpperVectorState();
    td.detector(pixels, found);
    std::vector<Detection> result;
    for (const auto& d : found) {
        const QRect box(int(d.rect.left()), int(d.rect.top()), int(d.rect.width()), int(d.rect.height()));
        result.push_back({box, d.detection_confidence, d.weight_index});
    }
    std::sort(result.begin(), result.end(), [](const Detection& a, const Detection& b) { return a.score > b.score; });
    td.recent.emplace_back(key, result);
    if (td.recent.size() > 6)
        td.recent.pop_front();
    return result;
}

double clamp01(double v)
{
    return std::clamp(v, 0.0, 1.0);
}

// Variance of the 4-neighbour Laplacian over a grey patch.
double laplacianVariance(const QImage& gray)
{
    const int w = gray.width(), h = gray.height();
    if (w < 3 || h < 3)
        return 0;
    double sum = 0, sumSq = 0;
    long n = 0;
    for (int y = 1; y < h - 1; ++y) {
        const uchar* up = gray.constScanLine(y - 1);
        const uchar* row = gray.constScanLine(y);
        const uchar* down = gray.constScanLine(y + 1);
        for (int x = 1; x < w - 1; ++x) {
            const double l = double(up[x]) + down[x] + row[x - 1] + row[x + 1] - 4.0 * row[x];
            sum += l;
            sumSq += l * l;
            ++n;
        }
    }
    const double mean = sum / double(n);
    return sumSq / double(n) - mean * mean;
}

double meanLevel(const QImage& gray)
{
    double sum = 0;
    for (int y = 0; y < gray.height(); ++y) {
        const uchar* row = gray.constScanLine(y);
        for (int x = 0; x < gray.width(); ++x)
            sum += row[x];
    }
    return sum / std::max(1.0, double(gray.width()) * gray.height());
}

class DlibFaceAnalyser final : public FaceAnalyser
{
public:
    std::vector<FaceBox> detectFaces(const QImage& image, QString* error) override
    {
        std::vector<FaceBox> faces;
        try {
            const double H = image.height();
            for (const Detection& d : detect(image)) {
                // dlib's boxes have their origin at the top-left; ours at the
                // bottom-left: the box's bottom edge becomes its y.
                const QRectF r(d.box.x(), H - (d.box.y() + d.box.height()), d.box.width(), d.box.height());
                faces.push_back({r, float(clamp01(d.score))});
            }
        } catch (const std::exception& e) {
            if (error)
                *error = QString::fromUtf8(e.what());
            return {};
        }
        return faces;
    }

    /*
     * Capture quality of the most confident face, the product of five
     * factors, each 0..1 (so any one bad aspect sinks the whole score):
     *  - detector: the HOG score (unbounded, about 1 to 1.5 on a good
     *    portrait, 0 at the detection threshold), (score + 0.5) / 1.0;
     *  - pose: 1 for the straight frontal filter, 0.85 for the turned or
     *    tilted filters (a mirrored face swaps left and right, same value);
     *  - size: the box width w in pixels, (w − 76) / 10: under 80 px a face
     *    is too small to be recognised in the 320×240 photo (below 0.4),
     *    from 86 px on it counts fully (the detector's smallest boxes are
     *    about 80 px, so smaller faces are mostly not found at all);
     *  - sharpness: the variance v of the Laplacian of the face box scaled
     *    to 96×96 grey, (v − 40) / 100 (sharp portraits give 300 and more,
     *    a face blurred by a sigma of 4 at 512 px about 30);
     *  - exposure: the box's mean grey level m, (m − 35) / 45 from the dark
     *    side and (240 − m) / 30 from the bright side.
     */
    float captureQuality(const QImage& image, QString* error) override
    {
        try {
            const std::vector<Detection> dets = detect(image);
            if (dets.empty())
                return 0;
            const Detection& d = dets.front();
            const double detector = clamp01((d.score + 0.5) / 1.0);
            const double pose = d.pose == 0 ? 1.0 : 0.85;
            const double size = clamp01((d.box.width() - 76.0) / 10.0);
            const QImage patch = grayOf(image.copy(d.box.intersected(image.rect())))
                                     .scaled(96, 96, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            const double sharpness = clamp01((laplacianVariance(patch) - 40.0) / 100.0);
            const double m = meanLevel(patch);
            const double exposure = clamp01((m - 35.0) / 45.0) * clamp01((240.0 - m) / 30.0);
            return float(detector * pose * size * sharpness * exposure);
        } catch (const std::exception& e) {
            if (error)
                *error = QString::fromUtf8(e.what());
            return 0;
        }
    }
};

} // namespace

std::shared_ptr<FaceAnalyser> makeDefaultFaceAnalyser()
{
    return std::make_shared<DlibFaceAnalyser>();
}

} // namespace pondra
