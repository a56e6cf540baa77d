// The dlib detector lives in this one translation unit: its headers are heavy
// and must not leak into the rest of the program.
#include "platform/faces/FaceAnalyser.h"

#include <dlib/image_processing/frontal_face_detector.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <exception>
#include <map>

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
    // The same detector limited to the first layers of its pyramid, by the
    // number of layers (built on first use).
    std::map<unsigned long, dlib::frontal_face_detector> firstLayers;
    // The chosen burst frame is scored and then detected again; remembering
    // the last few answers (by image and reach) saves the second run.
    std::deque<std::pair<std::pair<qint64, long>, std::vector<Detection>>> recent;

    dlib::frontal_face_detector& firstLayersOnly(unsigned long layers)
    {
        auto it = firstLayers.find(layers);
        if (it == firstLayers.end()) {
            dlib::frontal_face_detector::image_scanner_type scanner;
            scanner.copy_configuration(detector.get_scanner());
            scanner.set_max_pyramid_levels(layers);
            std::vector<dlib::frontal_face_detector::feature_vector_type> weights;
            for (unsigned long i = 0; i < detector.num_detectors(); ++i)
                weights.push_back(detector.get_w(i));
            it = firstLayers
                     .emplace(layers,
                              dlib::frontal_face_detector(scanner, detector.get_overlap_tester(), weights))
                     .first;
        }
        return it->second;
    }
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

/*
 * The faces of the image, most confident first. With a `reach` (in pixels),
 * a larger image is first searched from the first layer of the detector's
 * pyramid that fits within the reach: the faces of at least 80 px that a
 * frame of that size would show, found at the cost of a frame of that size.
 * Only when that finds nothing are the layers above searched, for smaller
 * faces. The detector builds each layer from the one above with this same
 * step, so the faces found are exactly those of the full search.
 */
std::vector<Detection> detect(const QImage& image, long reach)
{
    ThreadDetector& td = threadDetector();
    const std::pair<qint64, long> key{image.cacheKey(), reach};
    for (const auto& [k, dets] : td.recent)
        if (k == key)
            return dets;

    const QImage gray = grayOf(image);
    dlib::array2d<unsigned char> pixels(gray.height(), gray.width());
    for (int y = 0; y < gray.height(); ++y)
        std::copy_n(gray.constScanLine(y), gray.width(), &pixels[y][0]);
    clearUpperVectorState();
    const dlib::pyramid_down<6> pyramid;
    unsigned int skipped = 0;
    dlib::array2d<unsigned char> layer, next;
    const auto* searched = &pixels;
    while (reach > 0 && std::max(searched->nc(), searched->nr()) > reach) {
        pyramid(*searched, next);
        dlib::swap(layer, next);
        searched = &layer;
        ++skipped;
    }
    std::vector<dlib::rect_detection> found;
    td.detector(*searched, found);
    std::vector<Detection> result;
    for (const auto& d : found) {
        const dlib::rectangle r =
            skipped ? dlib::rectangle(pyramid.rect_up(dlib::drectangle(d.rect), skipped)) : d.rect;
        result.push_back({QRect(int(r.left()), int(r.top()), int(r.width()), int(r.height())),
                          d.detection_confidence, d.weight_index});
    }
    if (result.empty() && skipped > 0) {
        found.clear();
        td.firstLayersOnly(skipped)(pixels, found);
        for (const auto& d : found)
            result.push_back(
                {QRect(int(d.rect.left()), int(d.rect.top()), int(d.rect.width()), int(d.rect.height())),
                 d.detection_confidence, d.weight_index});
    }
    std::sort(result.begin(), result.end(),
              [](const Detection& a, const Detection& b) { return a.score > b.score; });
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
    explicit DlibFaceAnalyser(long reach) : m_reach(reach) {}

    std::vector<FaceBox> detectFaces(const QImage& image, QString* error) override
    {
        std::vector<FaceBox> faces;
        try {
            const double H = image.height();
            for (const Detection& d : detect(image, m_reach)) {
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
     * Capture quality of the most confident face, in two parts.
     *
     * Whether the face is usable at all is the product of five factors, each
     * 0..1, so any one bad aspect sinks it below the 0.4 minimum:
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
     * An unusable face scores that product. A usable face saturates most
     * of the factors, so they cannot tell the frames of a burst apart: it
     * scores 0.4 + 0.6 × rank instead, the rank being the product of graded
     * terms that never saturate, for what differs between those frames:
     *  - sharpness v / (v + 400), with v as above;
     *  - exposure 1 − ((m − 128) / 128)², best at mid grey;
     *  - size w / (w + 100): a larger face carries more detail;
     *  - the pose factor as above.
     */
    float captureQuality(const QImage& image, QString* error) override
    {
        try {
            const std::vector<Detection> dets = detect(image, m_reach);
            if (dets.empty())
                return 0;
            const Detection& d = dets.front();
            const double pose = d.pose == 0 ? 1.0 : 0.85;
            const double width = d.box.width();
            const QImage patch = grayOf(image.copy(d.box.intersected(image.rect())))
                                     .scaled(96, 96, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            const double v = laplacianVariance(patch);
            const double m = meanLevel(patch);
            const double usable = clamp01((d.score + 0.5) / 1.0) * pose * clamp01((width - 76.0) / 10.0) *
                                  clamp01((v - 40.0) / 100.0) * clamp01((m - 35.0) / 45.0) *
                                  clamp01((240.0 - m) / 30.0);
            const double sharpness = v / (v + 400.0);
            const double exposure = std::max(0.0, 1.0 - std::pow((m - 128.0) / 128.0, 2));
            const double size = width / (width + 100.0);
            const double rank = pose * sharpness * exposure * size;
            if (usable < usableFaceQuality)
                return float(usable);
            return float(usableFaceQuality + (1.0 - usableFaceQuality) * rank);
        } catch (const std::exception& e) {
            if (error)
                *error = QString::fromUtf8(e.what());
            return 0;
        }
    }

private:
    long m_reach = 0;
};

} // namespace

std::shared_ptr<FaceAnalyser> makeDefaultFaceAnalyser()
{
    // A VGA camera's frame: faces of at least 80 px in a 640 px frame (an
    // eighth of its width) are found at the cost of a VGA frame whatever the
    // camera's resolution; smaller ones at the cost of a full search.
    return makeDlibFaceAnalyser(640);
}

std::shared_ptr<FaceAnalyser> makeDlibFaceAnalyser(long reach)
{
    return std::make_shared<DlibFaceAnalyser>(reach);
}

} // namespace pondra
