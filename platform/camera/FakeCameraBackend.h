#pragma once

#include "platform/camera/CameraBackend.h"

#include <QPointer>

namespace pondra {

class Scheduler;

/// Scripted cameras for unit tests. Answers arrive through the scheduler on
/// its next turn, so tests drive them with virtual time.
class FakeCameraBackend final : public CameraBackend
{
public:
    enum class Answer
    {
        Yes,   ///< start: running; still: the next photo
        No,    ///< start: not running; still: no image
        Never, ///< no answer at all
    };

    class Session final : public CameraSession
    {
    public:
        Session(FakeCameraBackend& owner, CameraIdentity camera, CameraMode mode);
        ~Session() override;
        void start(QObject* context, std::function<void(bool)> onStarted) override;
        bool isRunning() const override { return m_running; }
        bool canTakeStill() const override { return m_owner->stillOutputConnected && m_mode == CameraMode::Still; }
        void takeStill(QObject* context, std::function<void(std::optional<QImage>)> onPhoto) override;
        void setFrameHandler(QObject* context, std::function<void(const QImage&)> onFrame) override;
        void stop() override;

        /// Delivers one frame now, as the camera thread would hand it over.
        void deliverFrame(const QImage& frame);
        /// Answers a pending start now (a first frame that comes late).
        void answerStart(bool running);
        /// Answers a pending still request now (for late answers).
        void answerStill(std::optional<QImage> photo);

        CameraIdentity camera;
        CameraMode mode;
        bool startedCalled = false;
        int stillRequests = 0;
        bool stopped = false;

    private:
        FakeCameraBackend* m_owner;
        CameraMode m_mode;
        bool m_running = false;
        std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
        QPointer<QObject> m_startContext;
        std::function<void(bool)> m_onStarted;
        QPointer<QObject> m_frameContext;
        std::function<void(const QImage&)> m_onFrame;
        QPointer<QObject> m_stillContext;
        std::function<void(std::optional<QImage>)> m_onPhoto;
    };

    explicit FakeCameraBackend(Scheduler& scheduler);

    QList<CameraIdentity> cameras() override { return list; }
    std::optional<CameraIdentity> camera(const QString& id) override;
    std::optional<CameraIdentity> defaultCamera() override;
    std::unique_ptr<CameraSession> openSession(const CameraIdentity& camera, CameraMode mode, QString* error) override;

    QList<CameraIdentity> list;
    /// Empty: the first camera of the list.
    QString defaultId;
    /// Non-empty: opening a session fails with this text.
    QString openError;
    Answer startAnswer = Answer::Yes;
    Answer stillAnswer = Answer::Yes;
    bool stillOutputConnected = true;
    /// Photos handed out by still requests, in turn (the last one repeats).
    QList<QImage> stillPhotos;

    int sessionsOpened = 0;
    /// The session opened last, while it exists.
    Session* lastSession = nullptr;

private:
    friend class Session;
    Scheduler& m_scheduler;
    int m_stillIndex = 0;
};

} // namespace pondra
