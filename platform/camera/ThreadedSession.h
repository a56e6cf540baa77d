#pragma once

#include "platform/camera/CameraBackend.h"
#include "platform/camera/WorkerThread.h"

#include <QPointer>

#include <atomic>

namespace pondra {

/// Frames handed to the main thread at most this large (bounded memory per
/// frame, and at most 720p for face detection).
inline constexpr int maxFrameWidth = 1280;
inline constexpr int maxFrameHeight = 720;

/// A frame as the capture code wants it: 32-bit, at most 1280×720.
QImage boundedFrame(const QImage& image);

/**
 * A session whose camera lives on a worker thread. The worker reports through
 * the deliver* calls (from any thread); the callbacks run on the main thread
 * and never after stop().
 */
class ThreadedSession final : public CameraSession
{
public:
    struct Core
    {
        // Main thread only.
        QPointer<QObject> context;
        std::function<void(bool)> onStarted;
        std::function<void(std::optional<QImage>)> onPhoto;
        QPointer<QObject> frameContext;
        std::function<void(const QImage&)> onFrame;
        // Shared with the worker.
        QObject* postTarget = nullptr;
        std::atomic<bool> running{false};
        std::atomic<bool> stillReady{false};
        std::atomic<bool> stopped{false};
        std::atomic<int> framesInFlight{0};
    };

    /// The camera itself, used on the worker thread only.
    class Driver
    {
    public:
        virtual ~Driver() = default;
        /// Start the camera; report with deliverStarted.
        virtual void start(const std::shared_ptr<Core>& core) = 0;
        /// Take one photo; report with deliverPhoto.
        virtual void takeStill(const std::shared_ptr<Core>& core) = 0;
        /// Stop and release the camera.
        virtual void stop() = 0;
    };

    ThreadedSession(WorkerThread& worker, std::shared_ptr<Driver> driver);
    ~ThreadedSession() override;

    void start(QObject* context, std::function<void(bool)> onStarted) override;
    bool isRunning() const override { return m_core->running; }
    bool canTakeStill() const override { return m_core->stillReady; }
    void takeStill(QObject* context, std::function<void(std::optional<QImage>)> onPhoto) override;
    void setFrameHandler(QObject* context, std::function<void(const QImage&)> onFrame) override;
    void stop() override;

    // Worker side: report to the main thread.
    static void deliverStarted(const std::shared_ptr<Core>& core, bool running);
    static void deliverPhoto(const std::shared_ptr<Core>& core, std::optional<QImage> photo);
    /// Drops the frame when the main thread has not taken the earlier ones yet.
    static void deliverFrame(const std::shared_ptr<Core>& core, QImage frame);

private:
    WorkerThread& m_worker;
    std::shared_ptr<Driver> m_driver;
    std::shared_ptr<Core> m_core = std::make_shared<Core>();
};

} // namespace pondra
