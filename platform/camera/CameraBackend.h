#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace pondra {

/// One camera as the system names it.
struct CameraIdentity
{
    QString id;
    QString name;
};

enum class CameraMode
{
    Still, ///< one still photo
    Video, ///< a stream of frames
};

/**
 * One camera session: started once, used for one capture, stopped once.
 * Every callback runs on the main thread, in the given context object, and
 * never after `stop()`.
 */
class CameraSession
{
public:
    virtual ~CameraSession() = default;

    /// Starts the camera without blocking the caller. `onStarted(running)`
    /// runs once: true when the first frame arrives, false when the camera
    /// reports an error first. A camera that does neither never answers.
    virtual void start(QObject* context, std::function<void(bool running)> onStarted) = 0;
    /// Whether the camera runs now (as last reported by the camera).
    virtual bool isRunning() const = 0;
    /// Whether a still photo can be asked for (the photo output is connected).
    virtual bool canTakeStill() const = 0;
    /// Asks for one still photo (at most 1280×720); `onPhoto` runs once, with
    /// no image when the camera reported an error.
    virtual void takeStill(QObject* context, std::function<void(std::optional<QImage>)> onPhoto) = 0;
    /// Receives every video frame (at most 1280×720) while the session runs.
    virtual void setFrameHandler(QObject* context, std::function<void(const QImage&)> onFrame) = 0;
    /// Stops the camera without waiting for it.
    virtual void stop() = 0;
};

/**
 * The cameras of the machine and sessions on them.
 */
class CameraBackend
{
public:
    virtual ~CameraBackend() = default;

    /// The cameras in the order the system lists them.
    virtual QList<CameraIdentity> cameras() = 0;
    /// The camera with this identifier, if it is connected.
    virtual std::optional<CameraIdentity> camera(const QString& id) = 0;
    /// The system's default camera, or none without a camera.
    virtual std::optional<CameraIdentity> defaultCamera() = 0;
    /// A new, unstarted session; none with `error` set when the camera cannot
    /// be opened.
    virtual std::unique_ptr<CameraSession> openSession(const CameraIdentity& camera, CameraMode mode, QString* error) = 0;
};

/// The environment variable that makes the program serve photos from a folder
/// instead of a camera (end-to-end tests on machines without a camera).
inline constexpr char fileCameraEnvironmentVariable[] = "PONDRA_FILE_CAMERA_DIR";

/// The file camera when `PONDRA_FILE_CAMERA_DIR` names a folder, else the
/// Qt Multimedia cameras.
std::unique_ptr<CameraBackend> makeDefaultCameraBackend();

} // namespace pondra
