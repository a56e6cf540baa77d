#include "platform/camera/FakeCameraBackend.h"

#include "platform/core/Scheduler.h"

namespace pondra {

FakeCameraBackend::FakeCameraBackend(Scheduler& scheduler) : m_scheduler(scheduler) {}

std::optional<CameraIdentity> FakeCameraBackend::camera(const QString& id)
{
    for (const auto& c : list)
        if (c.id == id)
            return c;
    return std::nullopt;
}

std::optional<CameraIdentity> FakeCameraBackend::defaultCamera()
{
    if (!defaultId.isEmpty())
        return camera(defaultId);
    if (list.isEmpty())
        return std::nullopt;
    return list.first();
}

std::unique_ptr<CameraSession> FakeCameraBackend::openSession(const CameraIdentity& camera, CameraMode mode, QString* error)
{
    if (!openError.isEmpty()) {
        if (error)
            *error = openError;
        return nullptr;
    }
    ++sessionsOpened;
    return std::make_unique<Session>(*this, camera, mode);
}

FakeCameraBackend::Session::Session(FakeCameraBackend& owner, CameraIdentity cam, CameraMode m)
    : camera(std::move(cam)), mode(m), m_owner(&owner), m_mode(m)
{
    owner.lastSession = this;
}

FakeCameraBackend::Session::~Session()
{
    if (m_owner->lastSession == this)
        m_owner->lastSession = nullptr;
}

void FakeCameraBackend::Session::start(QObject* context, std::function<void(bool)> onStarted)
{
    startedCalled = true;
    m_startContext = context;
    m_onStarted = std::move(onStarted);
    const Answer answer = m_owner->startAnswer;
    if (answer == Answer::Never)
        return;
    std::weak_ptr<bool> alive = m_alive;
    m_owner->m_scheduler.post(context, [this, alive, answer] {
        if (alive.lock())
            answerStart(answer == Answer::Yes);
    });
}

void FakeCameraBackend::Session::answerStart(bool running)
{
    if (stopped || !m_onStarted || !m_startContext)
        return;
    m_running = running;
    std::exchange(m_onStarted, {})(running);
}

void FakeCameraBackend::Session::takeStill(QObject* context, std::function<void(std::optional<QImage>)> onPhoto)
{
    ++stillRequests;
    m_stillContext = context;
    m_onPhoto = std::move(onPhoto);
    const Answer answer = m_owner->stillAnswer;
    if (answer == Answer::Never)
        return;
    std::optional<QImage> photo;
    if (answer == Answer::Yes && !m_owner->stillPhotos.isEmpty()) {
        const int i = std::min<int>(m_owner->m_stillIndex++, int(m_owner->stillPhotos.size()) - 1);
        photo = m_owner->stillPhotos.at(i);
    }
    std::weak_ptr<bool> alive = m_alive;
    m_owner->m_scheduler.post(context, [this, alive, photo] {
        if (alive.lock())
            answerStill(photo);
    });
}

void FakeCameraBackend::Session::answerStill(std::optional<QImage> photo)
{
    if (stopped || !m_onPhoto || !m_stillContext)
        return;
    auto handler = std::exchange(m_onPhoto, {});
    handler(std::move(photo));
}

void FakeCameraBackend::Session::setFrameHandler(QObject* context, std::function<void(const QImage&)> onFrame)
{
    m_frameContext = context;
    m_onFrame = std::move(onFrame);
}

void FakeCameraBackend::Session::deliverFrame(const QImage& frame)
{
    if (!stopped && m_running && m_onFrame && m_frameContext)
        m_onFrame(frame);
}

void FakeCameraBackend::Session::stop()
{
    stopped = true;
    m_running = false;
}

} // namespace pondra
