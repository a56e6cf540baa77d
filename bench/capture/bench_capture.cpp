// The work of one burst capture after the window closes, on one core:
// scoring five 640×480 candidates, then detecting, cropping, scaling,
// pixelating and encoding the chosen one. Goal: under 200 ms in all; the
// main-thread part (pixelation and JPEG) far under 16 ms.
#include "capture/ImagePipeline.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

using namespace pondra;

namespace {

// Five different camera-like frames: the portrait at a few offsets.
QList<QImage> candidates()
{
    const QImage portrait(QStringLiteral(PONDRA_TEST_DATA "/astronaut.jpg"));
    QList<QImage> frames;
    for (int i = 0; i < 5; ++i) {
        QImage frame(640, 480, QImage::Format_RGB32);
        frame.fill(qRgb(90, 90, 90));
        QPainter painter(&frame);
        painter.drawImage(QPoint(40 + i * 8, -20), portrait);
        painter.end();
        frames.push_back(frame);
    }
    return frames;
}

// The main thread's share: the away copy and its JPEG.
QByteArray awayJpeg(const QImage& photo)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    pixelate(photo, 30).save(&buffer, "JPEG", 80);
    return jpeg;
}

void BM_ScoreChooseAndProcess(benchmark::State& state)
{
    auto analyser = makeDefaultFaceAnalyser();
    QImage warmUp(64, 64, QImage::Format_RGB32);
    warmUp.fill(Qt::black);
    analyser->captureQuality(warmUp, nullptr); // builds the detector once
    for (auto _ : state) {
        state.PauseTiming();
        const QList<QImage> frames = candidates(); // fresh images: no remembered answers
        state.ResumeTiming();
        float best = -1;
        qsizetype chosen = 0;
        for (qsizetype i = 0; i < frames.size(); ++i) {
            const float score = analyser->captureQuality(frames[i], nullptr);
            if (score > best)
                best = score, chosen = i;
        }
        ProcessedPhoto photo = processImage(frames[chosen], *analyser);
        benchmark::DoNotOptimize(awayJpeg(photo.image));
    }
}
BENCHMARK(BM_ScoreChooseAndProcess)->Unit(benchmark::kMillisecond);

// What the main thread does with a result: pixelate and encode the photo.
void BM_MainThreadShare(benchmark::State& state)
{
    QImage photo = candidates().first().scaled(240, 240);
    for (auto _ : state) {
        benchmark::DoNotOptimize(awayJpeg(photo));
    }
}
BENCHMARK(BM_MainThreadShare)->Unit(benchmark::kMillisecond);

} // namespace

