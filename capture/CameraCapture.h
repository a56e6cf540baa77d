#pragma once

#include "capture/CameraDevice.h"
#include "platform/camera/CameraBackend.h"
#include "platform/core/Published.h"
#include "platform/core/Scheduler.h"
#include "platform/core/SettingsStore.h"
#include "platform/faces/FaceAnalyser.h"

#include <QDateTime>
#include <QImage>
#include <QObject>

#include <memory>
#include <optional>

namespace pondra {

class WorkerThread;

/**
 * The away photo: cameras, capture runs (a burst with face-quality choice or
 * one still photo), presence mode and the cached pixelated photo. Everything
 * here runs on the main thread; face analysis runs on its own thread and
 * comes back with queued calls.
 */
class CameraCapture final : public QObject
{
    Q_OBJECT

public:
    static constexpr float minimumQualityScore = 0.4f;

    Owned<std::optional<QImage>, CameraCapture> capturedImage;
    Owned<std::optional<QImage>, CameraCapture> pixelatedImage;
    Owned<bool, CameraCapture> faceDetected{false};
    Owned<bool, CameraCapture> isPondraMode{false};
    Owned<std::optional<QDateTime>, CameraCapture> photoTimestamp;
    Owned<QList<CameraDevice>, CameraCapture> availableCameras;
    Owned<bool, CameraCapture> photoSkipped{false};

    /// `awayPhotoFolder` empty: `$XDG_DATA_HOME/Pondra`.
    explicit CameraCapture(std::unique_ptr<CameraBackend> backend = makeDefaultCameraBackend(),
                           std::shared_ptr<FaceAnalyser> analyser = makeDefaultFaceAnalyser(),
                           Scheduler& scheduler = RealScheduler::instance(),
                           std::shared_ptr<SettingsStore> settings = std::make_shared<SettingsStore>(),
                           QString awayPhotoFolder = {}, QObject* parent = nullptr);
    ~CameraCapture() override;

    void refreshCameraList();
    bool useBestPhoto() const;
    void setUseBestPhoto(bool value);
    QString selectedCameraId() const;
    void setSelectedCameraId(const QString& id);

    /// Takes a new photo and turns presence on (see the run's rules below).
    void capturePondra(bool manual = false);
    /// Goes away: presence off, the pixelated photo shown and cached.
    void resetPondra();
    /// The user left while already away (the screen locked): a run in
    /// progress ends without turning presence on or replacing the photo, and
    /// nothing else changes.
    void cancelCapture();
    /// The views' one write: the "Bad photo" notice has been shown and fades.
    void clearPhotoSkipped() { photoSkipped.set(false); }

    /// A capture run is in progress.
    bool isCapturing() const { return m_isCapturing; }
    /// The away-photo file, or empty when there is no data folder.
    QString awayPhotoPath() const;

Q_SIGNALS:
    /// Any published value was assigned.
    void changed();

private:
    using PhotoDone = std::function<void(std::optional<QImage>)>;

    std::optional<CameraIdentity> selectedCamera();
    void capturePhoto(PhotoDone done);
    void captureSinglePhoto(PhotoDone done);
    void captureBurstPhoto(PhotoDone done);
    /// Tears down the last session and opens a new one on the chosen camera;
    /// false (after `done(none)`) when there is none.
    bool openSession(CameraMode mode, const PhotoDone& done);
    void stopSession();
    void onRunFinished(std::optional<QImage> image, bool manual);
    void onBurstWindowClosed(PhotoDone done);
    void startSession(std::function<void(bool running)> next);
    void processOnWorker(const QImage& image, PhotoDone done);
    void loadCachedAwayPhoto();
    void saveAwayPhoto();

    std::unique_ptr<CameraBackend> m_backend;
    std::shared_ptr<FaceAnalyser> m_analyser;
    Scheduler& m_scheduler;
    std::shared_ptr<SettingsStore> m_settings;
    QString m_awayPhotoFolder;
    std::unique_ptr<WorkerThread> m_analysisThread;

    std::unique_ptr<CameraSession> m_session;
    bool m_isCapturing = false;
    bool m_runOvertaken = false;
    float m_pixelationScale = 50;
    QList<QImage> m_frameBuffer;
    bool m_isCollectingFrames = false;
};

} // namespace pondra
