#include "capture/CameraCapture.h"

#include "capture/ImagePipeline.h"
#include "platform/camera/WorkerThread.h"
#include "platform/core/Log.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>
#include <QStandardPaths>

namespace pondra {

using namespace std::chrono_literals;

namespace {
constexpr auto stillWarmUp = 1500ms;
constexpr auto burstWarmUp = 500ms;
constexpr auto burstWindow = 1500ms;
// A camera that does not answer must never leave a run stuck.
constexpr auto cameraAnswerLimit = 10s;
constexpr int maxCandidates = 5;
// Four times the frames of 1.5 s at 60 frames a second.
constexpr qsizetype maxBurstFrames = 240;
constexpr int awayPixelCell = 30;
constexpr int awayPhotoQuality = 80;
const QString awayPhotoName = QStringLiteral("away-photo.jpg");

/// Calls `fn` with the first answer of a wait; a later answer or the
/// time limit after an answer does nothing.
template <typename T>
struct OnceAnswer
{
    std::shared_ptr<bool> done = std::make_shared<bool>(false);
    std::function<void(T)> fn;
    void operator()(T value) const
    {
        if (!std::exchange(*done, true))
            fn(std::move(value));
    }
};

struct ScoredFrame
{
    float score = 0;
    QString error;
};
} // namespace

// The analyser's scale: a usable face scores at least the minimum.
static_assert(CameraCapture::minimumQualityScore == usableFaceQuality);

CameraCapture::CameraCapture(std::unique_ptr<CameraBackend> backend, std::shared_ptr<FaceAnalyser> analyser,
                             Scheduler& scheduler, std::shared_ptr<SettingsStore> settings, QString awayPhotoFolder,
                             QObject* parent)
    : QObject(parent),
      m_backend(std::move(backend)),
      m_analyser(std::move(analyser)),
      m_scheduler(scheduler),
      m_settings(std::move(settings)),
      m_awayPhotoFolder(std::move(awayPhotoFolder)),
      m_analysisThread(std::make_unique<WorkerThread>(QStringLiteral("pondra-faces")))
{
    if (m_awayPhotoFolder.isEmpty()) {
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        if (!data.isEmpty())
            m_awayPhotoFolder = data + QStringLiteral("/Pondra");
    }
    const auto hook = [this] { Q_EMIT changed(); };
    capturedImage.setChangeHook(hook);
    pixelatedImage.setChangeHook(hook);
    faceDetected.setChangeHook(hook);
    isPondraMode.setChangeHook(hook);
    photoTimestamp.setChangeHook(hook);
    availableCameras.setChangeHook(hook);
    photoSkipped.setChangeHook(hook);
    refreshCameraList();
    loadCachedAwayPhoto();
}

CameraCapture::~CameraCapture()
{
    if (m_session)
        m_session->stop();
    m_session.reset();
    // Join the threads before anything they report to goes away.
    m_analysisThread.reset();
    m_backend.reset();
}

void CameraCapture::refreshCameraList()
{
    QList<CameraDevice> list;
    for (const CameraIdentity& camera : m_backend->cameras())
        list.push_back(CameraDevice{camera.id, camera.name});
    availableCameras.set(list);
}

bool CameraCapture::useBestPhoto() const
{
    return m_settings->flag(QStringLiteral("useBestPhoto")).value_or(true);
}

void CameraCapture::setUseBestPhoto(bool value)
{
    m_settings->setFlag(QStringLiteral("useBestPhoto"), value);
}

QString CameraCapture::selectedCameraId() const
{
    return m_settings->text(QStringLiteral("selectedCameraId")).value_or(QString());
}

void CameraCapture::setSelectedCameraId(const QString& id)
{
    m_settings->setText(QStringLiteral("selectedCameraId"), id);
}

std::optional<CameraIdentity> CameraCapture::selectedCamera()
{
    const QString id = selectedCameraId();
    if (!id.isEmpty())
        if (auto camera = m_backend->camera(id))
            return camera;
    return m_backend->defaultCamera();
}

void CameraCapture::capturePondra(bool manual)
{
    if (m_isCapturing) {
        logInfo(lcCamera, "Capture already in progress, skipping");
        return;
    }
    m_isCapturing = true;
    m_runOvertaken = false;
    photoSkipped.set(false);
    m_pixelationScale = 10;
    // Every path of a run ends here, once: the camera's answers and the time
    // limits that stand in for them race, and the first one ends the run.
    OnceAnswer<std::optional<QImage>> end;
    end.fn = [this, manual](std::optional<QImage> image) { onRunFinished(std::move(image), manual); };
    capturePhoto(end);
}

void CameraCapture::onRunFinished(std::optional<QImage> image, bool manual)
{
    // The user went away during the run: the run must not bring them back
    // nor show a photo taken while they were leaving.
    if (!m_runOvertaken) {
        if (image) {
            capturedImage.set(*image);
            pixelatedImage.set(pixelate(*image, awayPixelCell));
            photoTimestamp.set(m_scheduler.now());
        } else if (manual) {
            photoSkipped.set(true);
        }
        isPondraMode.set(true);
    }
    m_runOvertaken = false;
    m_isCapturing = false;
}

void CameraCapture::cancelCapture()
{
    if (m_isCapturing)
        m_runOvertaken = true;
}

void CameraCapture::resetPondra()
{
    cancelCapture();
    isPondraMode.set(false);
    if (!pixelatedImage.get())
        return;
    capturedImage.set(pixelatedImage.get());
    saveAwayPhoto();
}

void CameraCapture::capturePhoto(PhotoDone done)
{
    if (useBestPhoto())
        captureBurstPhoto(std::move(done));
    else
        captureSinglePhoto(std::move(done));
}

void CameraCapture::stopSession()
{
    if (!m_session)
        return;
    m_session->stop();
    m_session.reset();
}

void CameraCapture::startSession(std::function<void(bool running)> next)
{
    // The camera answers at its first frame (or its first error): the warm-up
    // that follows counts from a camera that delivers.
    OnceAnswer<bool> answer;
    answer.fn = std::move(next);
    m_session->start(this, answer);
    m_scheduler.after(cameraAnswerLimit, this, [answer] { answer(false); });
}

bool CameraCapture::openSession(CameraMode mode, const PhotoDone& done)
{
    stopSession();
    const auto camera = selectedCamera();
    if (!camera) {
        logError(lcCamera, "No camera available");
        done(std::nullopt);
        return false;
    }
    if (mode == CameraMode::Still)
        logInfo(lcCamera, "Using camera: %s (single frame mode)", camera->name);
    else
        logInfo(lcCamera, "Using camera: %s (burst mode)", camera->name);
    QString error;
    auto session = m_backend->openSession(*camera, mode, &error);
    if (!session) {
        logError(lcCamera, "Failed to setup camera: %@", error);
        done(std::nullopt);
        return false;
    }
    m_session = std::move(session);
    return true;
}

void CameraCapture::captureSinglePhoto(PhotoDone done)
{
    if (!openSession(CameraMode::Still, done))
        return;
    startSession([this, done](bool running) {
        const auto ready = [this, done] {
            if (!m_session || !m_session->isRunning() || !m_session->canTakeStill()) {
                logError(lcCamera, "Session not ready for photo capture, skipping");
                stopSession();
                done(std::nullopt);
                return;
            }
            OnceAnswer<std::optional<QImage>> answer;
            answer.fn = [this, done](std::optional<QImage> photo) {
                if (!photo || photo->isNull()) {
                    stopSession();
                    done(std::nullopt);
                    return;
                }
                processOnWorker(*photo, done);
            };
            m_session->takeStill(this, answer);
            m_scheduler.after(cameraAnswerLimit, this, [answer] { answer(std::nullopt); });
        };
        // A camera that reported an error takes the no-photo path at once.
        if (running)
            m_scheduler.after(stillWarmUp, this, ready);
        else
            ready();
    });
}

void CameraCapture::processOnWorker(const QImage& image, PhotoDone done)
{
    m_analysisThread->post([this, analyser = m_analyser, image, done] {
        ProcessedPhoto processed = processImage(image, *analyser);
        postTo(this, [this, processed = std::move(processed), done] {
            if (!processed.detectionError.isEmpty())
                logError(lcCamera, "Face detection failed: %@", processed.detectionError);
            faceDetected.set(processed.faceDetected);
            stopSession();
            done(processed.image);
        });
    });
}

void CameraCapture::captureBurstPhoto(PhotoDone done)
{
    if (!openSession(CameraMode::Video, done))
        return;
    // A stopped session hands over no more frames.
    m_session->setFrameHandler(this, [this](const QImage& frame) {
        if (m_isCollectingFrames && m_frameBuffer.size() < maxBurstFrames)
            m_frameBuffer.push_back(frame);
    });
    startSession([this, done](bool running) {
        if (!running) {
            // Nothing will arrive: close the empty window at once.
            onBurstWindowClosed(done);
            return;
        }
        m_scheduler.after(burstWarmUp, this, [this, done] {
            m_frameBuffer.clear();
            m_isCollectingFrames = true;
            m_scheduler.after(burstWindow, this, [this, done] { onBurstWindowClosed(done); });
        });
    });
}

void CameraCapture::onBurstWindowClosed(PhotoDone done)
{
    m_isCollectingFrames = false;
    const QList<QImage> frames = std::exchange(m_frameBuffer, {});
    if (frames.isEmpty()) {
        logError(lcCamera, "No frames captured in burst");
        stopSession();
        done(std::nullopt);
        return;
    }
    QList<QImage> candidates;
    if (frames.size() <= maxCandidates) {
        candidates = frames;
    } else {
        const qsizetype step = std::max<qsizetype>(1, frames.size() / maxCandidates);
        for (int i = 0; i < maxCandidates; ++i)
            candidates.push_back(frames.at(i * step));
    }
    m_analysisThread->post([this, analyser = m_analyser, candidates, done] {
        std::vector<ScoredFrame> scores;
        for (const QImage& frame : candidates) {
            ScoredFrame scored;
            scored.score = analyser->captureQuality(frame, &scored.error);
            scores.push_back(scored);
        }
        postTo(this, [this, candidates, scores, done] {
            logInfo(lcCamera, "Scoring %{public}ld burst frames for face quality", candidates.size());
            float bestScore = -1.0f;
            qsizetype best = 0;
            for (qsizetype i = 0; i < candidates.size(); ++i) {
                const ScoredFrame& scored = scores.at(std::size_t(i));
                if (!scored.error.isEmpty())
                    logError(lcCamera, "Face quality scoring failed: %@", scored.error);
                logInfo(lcCamera, "Frame %{public}ld: quality score %{public}s", i, QString::asprintf("%.3f", double(scored.score)));
                if (scored.score > bestScore) {
                    bestScore = scored.score;
                    best = i;
                }
            }
            if (!(bestScore >= minimumQualityScore)) {
                logInfo(lcCamera, "Best score %{public}s below minimum %{public}s, skipping update",
                        QString::asprintf("%.3f", double(bestScore)), QString::asprintf("%.3f", double(minimumQualityScore)));
                logInfo(lcCamera, "No frame met quality threshold, skipping photo update");
                stopSession();
                done(std::nullopt);
                return;
            }
            logInfo(lcCamera, "Selected best frame with quality score %{public}s", QString::asprintf("%.3f", double(bestScore)));
            processOnWorker(candidates.at(best), done);
        });
    });
}

QString CameraCapture::awayPhotoPath() const
{
    if (m_awayPhotoFolder.isEmpty())
        return {};
    // Made on every use; a failure shows later as a failed write.
    QDir().mkpath(m_awayPhotoFolder);
    return m_awayPhotoFolder + QLatin1Char('/') + awayPhotoName;
}

void CameraCapture::loadCachedAwayPhoto()
{
    const QString path = awayPhotoPath();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    QImageReader reader(path);
    const QImage image = reader.read();
    if (image.isNull())
        return;
    logInfo(lcCamera, "Loaded cached away photo");
    capturedImage.set(image);
    pixelatedImage.set(image);
}

void CameraCapture::saveAwayPhoto()
{
    const auto image = pixelatedImage.get();
    if (!image)
        return;
    const QString path = awayPhotoPath();
    if (path.isEmpty() || image->isNull())
        return;
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!image->save(&buffer, "JPEG", awayPhotoQuality) || data.isEmpty())
        return;
    // Written whole or not at all: a crash mid-write must not leave a broken
    // away photo for the next start.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        logError(lcCamera, "Failed to save away photo: %s", file.errorString());
        return;
    }
    logInfo(lcCamera, "Saved away photo to cache");
}

} // namespace pondra
