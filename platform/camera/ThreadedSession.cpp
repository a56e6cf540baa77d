#include "platform/camera/ThreadedSession.h"

namespace pondra {

QImage boundedFrame(const QImage& image)
{
    QImage frame = image;
    if (frame.width() > maxFrameWidth || frame.height() > maxFrameHeight)
        frame = frame.scaled(maxFrameWidth, maxFrameHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (frame.format() != QImage::Format_RGB32 && frame.format() != QImage::Format_ARGB32)
        frame = frame.convertToFormat(QImage::Format_RGB32);
    return frame;
}

ThreadedSession::ThreadedSession(WorkerThread& worker, std::shared_ptr<Driver> driver)
    : m_worker(worker), m_driver(std::move(driver))
{
}

ThreadedSession::~ThreadedSession()
{
    stop();
}

void ThreadedSession::start(QObject* context, std::function<void(bool)> onStarted)
{
    m_core->context = context;
    m_core->postTarget = context;
    m_core->onStarted = std::move(onStarted);
    m_worker.post([driver = m_driver, core = m_core] {
        if (!core->stopped)
            driver->start(core);
    });
}

void ThreadedSession::takeStill(QObject* context, std::function<void(std::optional<QImage>)> onPhoto)
{
    m_core->context = context;
    m_core->onPhoto = std::move(onPhoto);
    m_worker.post([driver = m_driver, core = m_core] {
        if (!core->stopped)
            driver->takeStill(core);
    });
}

void ThreadedSession::setFrameHandler(QObject* context, std::function<void(const QImage&)> onFrame)
{
    m_core->frameContext = context;
    m_core->postTarget = context;
    m_core->onFrame = std::move(onFrame);
}

void ThreadedSession::stop()
{
    if (m_core->stopped.exchange(true))
        return;
    m_core->running = false;
    m_core->onStarted = {};
    m_core->onPhoto = {};
    m_core->onFrame = {};
    // Stopping a camera blocks: it runs on the worker, which owns the driver
    // from here on.
    m_worker.post([driver = m_driver] { driver->stop(); });
}

void ThreadedSession::deliverStarted(const std::shared_ptr<Core>& core, bool running)
{
    std::weak_ptr<Core> weak = core;
    postTo(core->postTarget, [weak, running] {
        auto c = weak.lock();
        if (!c || c->stopped || !c->context || !c->onStarted)
            return;
        std::exchange(c->onStarted, {})(running);
    });
}

void ThreadedSession::deliverPhoto(const std::shared_ptr<Core>& core, std::optional<QImage> photo)
{
    std::weak_ptr<Core> weak = core;
    postTo(core->postTarget, [weak, photo = std::move(photo)] {
        auto c = weak.lock();
        if (!c || c->stopped || !c->context || !c->onPhoto)
            return;
        std::exchange(c->onPhoto, {})(photo);
    });
}

void ThreadedSession::deliverFrame(const std::shared_ptr<Core>& core, QImage frame)
{
    if (core->stopped || core->framesInFlight > 2)
        return;
    ++core->framesInFlight;
    std::weak_ptr<Core> weak = core;
    postTo(core->postTarget, [weak, frame = std::move(frame)] {
        auto c = weak.lock();
        if (!c)
            return;
        --c->framesInFlight;
        if (!c->stopped && c->frameContext && c->onFrame)
            c->onFrame(frame);
    });
}

} // namespace pondra
