#include "platform/camera/QtCameraBackend.h"

#include "platform/camera/ThreadedSession.h"

#include <QCamera>
#include <QCameraDevice>
#include <QDir>
#include <QImageCapture>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>

namespace pondra {

namespace {

CameraIdentity identityOf(const QCameraDevice& device)
{
    return {QString::fromUtf8(device.id()), device.description()};
}

std::optional<QCameraDevice> findDevice(const QString& id)
{
    for (const QCameraDevice& device : QMediaDevices::videoInputs())
        if (QString::fromUtf8(device.id()) == id)
            return device;
    return std::nullopt;
}

// Worker side of one Qt Multimedia session.
class QtDriver final : public ThreadedSession::Driver
{
public:
    QtDriver(QCameraDevice device, CameraMode mode, QObject* parent) : m_device(std::move(device)), m_mode(mode), m_parent(parent) {}

    void start(const std::shared_ptr<ThreadedSession::Core>& core) override
    {
        m_holder = new QObject(m_parent);
        auto* camera = new QCamera(m_device, m_holder);
        auto* session = new QMediaCaptureSession(m_holder);
        session->setCamera(camera);
        std::weak_ptr<ThreadedSession::Core> weak = core;
        auto answered = std::make_shared<bool>(false);
        auto answerStart = [weak, answered](bool running) {
            auto c = weak.lock();
            if (!c || std::exchange(*answered, true))
                return;
            ThreadedSession::deliverStarted(c, running);
        };
        QObject::connect(camera, &QCamera::activeChanged, m_holder, [weak, answerStart](bool active) {
            if (auto c = weak.lock())
                c->running = active;
            if (active)
                answerStart(true);
        });
        QObject::connect(camera, &QCamera::errorOccurred, m_holder, [weak, answerStart, this](QCamera::Error error, const QString&) {
            if (error == QCamera::NoError)
                return;
            auto c = weak.lock();
            if (!c)
                return;
            c->running = false;
            answerStart(false);
            if (m_waitingForStill)
                ThreadedSession::deliverPhoto(c, std::nullopt);
            m_waitingForStill = false;
        });
        if (m_mode == CameraMode::Still) {
            m_imageCapture = new QImageCapture(m_holder);
            session->setImageCapture(m_imageCapture);
            QObject::connect(m_imageCapture, &QImageCapture::readyForCaptureChanged, m_holder,
                             [weak](bool ready) {
                                 if (auto c = weak.lock())
                                     c->stillReady = ready;
                             });
            QObject::connect(m_imageCapture, &QImageCapture::imageCaptured, m_holder, [weak, this](int, const QImage& image) {
                auto c = weak.lock();
                if (!c || !m_waitingForStill)
                    return;
                m_waitingForStill = false;
                ThreadedSession::deliverPhoto(c, image.isNull() ? std::nullopt : std::optional<QImage>(image));
            });
            QObject::connect(m_imageCapture, &QImageCapture::errorOccurred, m_holder, [weak, this](int, QImageCapture::Error, const QString&) {
                auto c = weak.lock();
                if (!c || !m_waitingForStill)
                    return;
                m_waitingForStill = false;
                ThreadedSession::deliverPhoto(c, std::nullopt);
            });
        } else {
            auto* sink = new QVideoSink(m_holder);
            session->setVideoSink(sink);
            QObject::connect(sink, &QVideoSink::videoFrameChanged, m_holder, [weak](const QVideoFrame& frame) {
                auto c = weak.lock();
                if (!c || c->stopped || c->framesInFlight > 2)
                    return;
                QImage image = frame.toImage();
                if (!image.isNull())
                    ThreadedSession::deliverFrame(c, boundedFrame(image));
            });
        }
        camera->start();
        if (camera->isActive()) {
            core->running = true;
            answerStart(true);
        }
    }

    void takeStill(const std::shared_ptr<ThreadedSession::Core>& core) override
    {
        if (!m_imageCapture || !m_imageCapture->isReadyForCapture()) {
            ThreadedSession::deliverPhoto(core, std::nullopt);
            return;
        }
        m_waitingForStill = true;
        m_imageCapture->capture();
    }

    void stop() override
    {
        if (!m_holder)
            return;
        if (auto* camera = m_holder->findChild<QCamera*>())
            camera->stop();
        delete m_holder;
        m_holder = nullptr;
        m_imageCapture = nullptr;
    }

private:
    QCameraDevice m_device;
    CameraMode m_mode;
    QObject* m_parent = nullptr;
    QObject* m_holder = nullptr;
    QImageCapture* m_imageCapture = nullptr;
    bool m_waitingForStill = false;
};

// Worker side of one file-camera session.
class FileDriver final : public ThreadedSession::Driver
{
public:
    FileDriver(QString folder, CameraMode mode, QObject* parent) : m_folder(std::move(folder)), m_mode(mode), m_parent(parent) {}

    void start(const std::shared_ptr<ThreadedSession::Core>& core) override
    {
        const QDir dir(m_folder);
        const QStringList names = dir.entryList({QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"), QStringLiteral("*.png")},
                                                QDir::Files, QDir::Name);
        for (const QString& name : names) {
            QImage image(dir.filePath(name));
            if (!image.isNull())
                m_photos.push_back(image);
        }
        const bool running = !m_photos.isEmpty();
        core->running = running;
        core->stillReady = running && m_mode == CameraMode::Still;
        if (running && m_mode == CameraMode::Video) {
            m_timer = new QTimer(m_parent);
            std::weak_ptr<ThreadedSession::Core> weak = core;
            QObject::connect(m_timer, &QTimer::timeout, m_timer, [this, weak] {
                if (auto c = weak.lock())
                    ThreadedSession::deliverFrame(c, boundedFrame(nextPhoto()));
            });
            m_timer->start(33);
        }
        ThreadedSession::deliverStarted(core, running);
    }

    void takeStill(const std::shared_ptr<ThreadedSession::Core>& core) override
    {
        ThreadedSession::deliverPhoto(core, m_photos.isEmpty() ? std::nullopt : std::optional<QImage>(nextPhoto()));
    }

    void stop() override
    {
        delete m_timer;
        m_timer = nullptr;
        m_photos.clear();
    }

private:
    QImage nextPhoto() { return m_photos.at(m_next++ % m_photos.size()); }

    QString m_folder;
    CameraMode m_mode;
    QObject* m_parent = nullptr;
    QTimer* m_timer = nullptr;
    QList<QImage> m_photos;
    qsizetype m_next = 0;
};

} // namespace

QtCameraBackend::QtCameraBackend() = default;
QtCameraBackend::~QtCameraBackend() = default;

QList<CameraIdentity> QtCameraBackend::cameras()
{
    QList<CameraIdentity> list;
    for (const QCameraDevice& device : QMediaDevices::videoInputs())
        list.push_back(identityOf(device));
    return list;
}

std::optional<CameraIdentity> QtCameraBackend::camera(const QString& id)
{
    if (auto device = findDevice(id))
        return identityOf(*device);
    return std::nullopt;
}

std::optional<CameraIdentity> QtCameraBackend::defaultCamera()
{
    const QCameraDevice device = QMediaDevices::defaultVideoInput();
    if (device.isNull())
        return std::nullopt;
    return identityOf(device);
}

std::unique_ptr<CameraSession> QtCameraBackend::openSession(const CameraIdentity& camera, CameraMode mode, QString* error)
{
    auto device = findDevice(camera.id);
    if (!device) {
        if (error)
            *error = QStringLiteral("The camera \"%1\" is not connected").arg(camera.name);
        return nullptr;
    }
    return std::make_unique<ThreadedSession>(m_worker, std::make_shared<QtDriver>(*device, mode, m_worker.context()));
}

FileCameraBackend::FileCameraBackend(QString folder) : m_folder(std::move(folder)) {}
FileCameraBackend::~FileCameraBackend() = default;

QList<CameraIdentity> FileCameraBackend::cameras()
{
    return {CameraIdentity{QStringLiteral("file:") + m_folder, QStringLiteral("File camera")}};
}

std::optional<CameraIdentity> FileCameraBackend::camera(const QString& id)
{
    if (id == cameras().first().id)
        return cameras().first();
    return std::nullopt;
}

std::optional<CameraIdentity> FileCameraBackend::defaultCamera()
{
    return cameras().first();
}

std::unique_ptr<CameraSession> FileCameraBackend::openSession(const CameraIdentity&, CameraMode mode, QString*)
{
    return std::make_unique<ThreadedSession>(m_worker, std::make_shared<FileDriver>(m_folder, mode, m_worker.context()));
}

std::unique_ptr<CameraBackend> makeDefaultCameraBackend()
{
    const QString folder = qEnvironmentVariable(fileCameraEnvironmentVariable);
    if (!folder.isEmpty())
        return std::make_unique<FileCameraBackend>(folder);
    return std::make_unique<QtCameraBackend>();
}

} // namespace pondra
