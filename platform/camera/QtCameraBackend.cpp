#include "platform/camera/QtCameraBackend.h"

#include "platform/camera/GstCameras.h"
#include "platform/camera/ThreadedSession.h"
#include "platform/core/Log.h"

#include <QCamera>
#include <QCameraDevice>
#include <QDir>
#include <QGuiApplication>
#include <QHash>
#include <QImageCapture>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>

#include <atomic>
#include <tuple>

namespace pondra {

namespace {

/*
 * The format a session asks of the camera: the largest of at most 1280×720
 * (larger frames would only be scaled down), then the fastest, then one that
 * needs no decoding. None when the camera offers nothing that small: it then
 * runs in Qt's choice and its frames are scaled down.
 */
std::optional<QCameraFormat> preferredFormat(const QList<QCameraFormat>& formats)
{
    std::optional<QCameraFormat> best;
    const auto key = [](const QCameraFormat& f) {
        const QSize size = f.resolution();
        return std::tuple(qint64(size.width()) * size.height(), f.maxFrameRate(),
                          f.pixelFormat() != QVideoFrameFormat::Format_Jpeg);
    };
    for (const QCameraFormat& format : formats) {
        const QSize size = format.resolution();
        if (format.pixelFormat() == QVideoFrameFormat::Format_Invalid || size.isEmpty() ||
            size.width() > maxFrameWidth || size.height() > maxFrameHeight)
            continue;
        if (!best || key(format) > key(*best))
            best = format;
    }
    return best;
}

// Worker side of one Qt Multimedia session. Lives on the camera thread; the
// frames and the still go to the converter thread to become images, since
// Qt's video sink waits for each frame's handler before it takes the next.
class QtDriver final : public ThreadedSession::Driver, public std::enable_shared_from_this<QtDriver>
{
public:
    QtDriver(QCameraDevice device, CameraMode mode, WorkerThread& cameraThread, WorkerThread& converter)
        : m_device(std::move(device)), m_mode(mode), m_cameraThread(cameraThread), m_converter(converter)
    {
    }

    void start(const std::shared_ptr<ThreadedSession::Core>& core) override
    {
        m_core = core;
        const std::weak_ptr<QtDriver> self = weak_from_this();
        WorkerThread* cameraThread = &m_cameraThread;
        // Before the camera exists: Qt's pipeline may fail while it is built.
        m_errors = GstCameraErrors::listen([self, cameraThread](const QString& error) {
            cameraThread->post([self, error] {
                if (auto driver = self.lock())
                    driver->onError(error);
            });
        });
        m_holder = new QObject(m_cameraThread.context());
        // The outputs first, the camera last: the session's pipeline is then
        // built once, complete.
        auto* session = new QMediaCaptureSession(m_holder);
        // A camera turns active as soon as it is asked to start, whether or
        // not it works: it runs from its first frame, in still mode too.
        auto* sink = new QVideoSink(m_holder);
        session->setVideoSink(sink);
        QObject::connect(sink, &QVideoSink::videoFrameChanged, m_holder,
                         [this](const QVideoFrame& frame) { onFrame(frame); });
        if (m_mode == CameraMode::Still) {
            m_imageCapture = new QImageCapture(m_holder);
            session->setImageCapture(m_imageCapture);
            QObject::connect(m_imageCapture, &QImageCapture::readyForCaptureChanged, m_holder,
                             [this](bool ready) {
                                 if (auto c = m_core.lock())
                                     c->stillReady = ready;
                             });
            QObject::connect(m_imageCapture, &QImageCapture::imageCaptured, m_holder,
                             [this](int, const QImage& image) { onStill(image); });
            QObject::connect(m_imageCapture, &QImageCapture::errorOccurred, m_holder,
                             [this](int, QImageCapture::Error, const QString&) { onStill(QImage()); });
        }
        auto* camera = new QCamera(m_device, m_holder);
        if (const auto format = preferredFormat(m_device.videoFormats()))
            camera->setCameraFormat(*format);
        QObject::connect(camera, &QCamera::errorOccurred, m_holder,
                         [this](QCamera::Error error, const QString& text) {
                             if (error != QCamera::NoError)
                                 onError(text);
                         });
        session->setCamera(camera);
        if (m_imageCapture)
            core->stillReady = m_imageCapture->isReadyForCapture();
        camera->start();
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
        m_errors.reset();
        if (m_holder) {
            if (auto* camera = m_holder->findChild<QCamera*>())
                camera->stop();
            delete m_holder;
        }
        m_imageCapture = nullptr;
    }

private:
    void onFrame(const QVideoFrame& frame)
    {
        auto core = m_core.lock();
        if (!core || core->stopped || !frame.isValid())
            return;
        if (!std::exchange(m_hadFrame, true)) {
            core->running = true;
            ThreadedSession::deliverStarted(core, true);
        }
        // At most one frame waits for conversion; the others are dropped.
        if (m_mode != CameraMode::Video || m_converting->exchange(true))
            return;
        m_converter.post([weak = m_core, converting = m_converting, frame] {
            QImage image = frame.toImage();
            if (auto c = weak.lock(); c && !image.isNull())
                ThreadedSession::deliverFrame(c, boundedFrame(image));
            *converting = false;
        });
    }

    void onStill(const QImage& image)
    {
        if (!std::exchange(m_waitingForStill, false))
            return;
        m_converter.post([weak = m_core, image] {
            if (auto c = weak.lock())
                ThreadedSession::deliverPhoto(c, image.isNull() ? std::nullopt
                                                                : std::optional(boundedFrame(image)));
        });
    }

    void onError(const QString& error)
    {
        auto core = m_core.lock();
        // The first error says why; the ones after it follow from it.
        if (!core || core->stopped || std::exchange(m_failed, true))
            return;
        logError(lcCamera, "Camera error: %s", error);
        core->running = false;
        ThreadedSession::deliverStarted(core, false);
        if (std::exchange(m_waitingForStill, false))
            ThreadedSession::deliverPhoto(core, std::nullopt);
    }

    QCameraDevice m_device;
    CameraMode m_mode;
    WorkerThread& m_cameraThread;
    WorkerThread& m_converter;
    std::weak_ptr<ThreadedSession::Core> m_core;
    std::shared_ptr<void> m_errors;
    QPointer<QObject> m_holder;
    QImageCapture* m_imageCapture = nullptr;
    bool m_hadFrame = false;
    bool m_failed = false;
    bool m_waitingForStill = false;
    std::shared_ptr<std::atomic<bool>> m_converting = std::make_shared<std::atomic<bool>>(false);
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
        ThreadedSession::deliverPhoto(core, m_photos.isEmpty() ? std::nullopt : std::optional(boundedFrame(nextPhoto())));
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

struct ListedCamera
{
    CameraIdentity identity;
    QCameraDevice device;
};

/*
 * Qt's cameras, each once. Qt 6.4 adds a camera again for each announcement
 * of it and keeps one copy of it after it is unplugged; a camera plugged in
 * later comes last. Of the entries of one name, the last as many as GStreamer
 * knows cameras of that name are kept: the copies and the newest cameras.
 */
QList<QCameraDevice> distinctCameras()
{
    QList<QCameraDevice> devices = QMediaDevices::videoInputs();
    const auto counts = gstCamerasByName();
    if (!counts)
        return devices;
    QHash<QString, int> left = *counts;
    QList<QCameraDevice> kept;
    for (auto it = devices.crbegin(); it != devices.crend(); ++it)
        if (left[it->description()]-- > 0)
            kept.prepend(*it);
    return kept;
}

// None at all where Qt cannot turn frames into images.
QList<ListedCamera> listCameras(bool usable)
{
    if (!usable)
        return {};
    const QList<QCameraDevice> devices = distinctCameras();
    QStringList names;
    for (const QCameraDevice& device : devices)
        names.push_back(device.description());
    const QStringList ids = stableCameraIds(names);
    QList<ListedCamera> list;
    for (qsizetype i = 0; i < devices.size(); ++i)
        list.push_back({{ids.at(i), names.at(i)}, devices.at(i)});
    return list;
}

} // namespace

QStringList stableCameraIds(const QStringList& names)
{
    QStringList ids;
    QHash<QString, int> numbered;
    for (const QString& name : names) {
        const QString base = name.isEmpty() ? QStringLiteral("Camera") : name;
        QString id = base;
        // A camera whose own name looks numbered moves the numbering on
        // rather than share an identifier.
        while (ids.contains(id))
            id = QStringLiteral("%1 #%2").arg(base).arg(++numbered[base] + 1);
        ids.push_back(id);
    }
    return ids;
}

QtCameraBackend::QtCameraBackend()
    : m_usable(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr)
{
    if (!m_usable)
        logError(lcCamera, "No camera: the camera needs a graphical application");
}

QtCameraBackend::~QtCameraBackend() = default;

QList<CameraIdentity> QtCameraBackend::cameras()
{
    QList<CameraIdentity> list;
    for (const ListedCamera& listed : listCameras(m_usable))
        list.push_back(listed.identity);
    return list;
}

std::optional<CameraIdentity> QtCameraBackend::camera(const QString& id)
{
    for (const ListedCamera& listed : listCameras(m_usable))
        if (listed.identity.id == id)
            return listed.identity;
    return std::nullopt;
}

std::optional<CameraIdentity> QtCameraBackend::defaultCamera()
{
    const QList<ListedCamera> list = listCameras(m_usable);
    if (list.isEmpty())
        return std::nullopt;
    // Qt's default may be a copy that was dropped: then its namesake.
    const QCameraDevice device = QMediaDevices::defaultVideoInput();
    for (const ListedCamera& listed : list)
        if (listed.device == device)
            return listed.identity;
    for (const ListedCamera& listed : list)
        if (listed.device.description() == device.description())
            return listed.identity;
    return list.first().identity;
}

std::unique_ptr<CameraSession> QtCameraBackend::openSession(const CameraIdentity& camera, CameraMode mode,
                                                            QString* error)
{
    for (const ListedCamera& listed : listCameras(m_usable))
        if (listed.identity.id == camera.id)
            return std::make_unique<ThreadedSession>(
                m_worker, std::make_shared<QtDriver>(listed.device, mode, m_worker, m_converter));
    if (error)
        *error = QStringLiteral("The camera \"%1\" is not connected").arg(camera.name);
    return nullptr;
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
