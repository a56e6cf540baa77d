#pragma once

#include "platform/camera/CameraBackend.h"
#include "platform/camera/WorkerThread.h"

namespace pondra {

/// The system's cameras through Qt Multimedia. Each session's camera lives on
/// the backend's camera thread, since starting and stopping one blocks.
class QtCameraBackend final : public CameraBackend
{
public:
    QtCameraBackend();
    ~QtCameraBackend() override;

    QList<CameraIdentity> cameras() override;
    std::optional<CameraIdentity> camera(const QString& id) override;
    std::optional<CameraIdentity> defaultCamera() override;
    std::unique_ptr<CameraSession> openSession(const CameraIdentity& camera, CameraMode mode, QString* error) override;

private:
    WorkerThread m_worker{QStringLiteral("pondra-camera")};
};

/// Serves the photos of a folder (in name order, over and over) as a camera.
class FileCameraBackend final : public CameraBackend
{
public:
    explicit FileCameraBackend(QString folder);
    ~FileCameraBackend() override;

    QList<CameraIdentity> cameras() override;
    std::optional<CameraIdentity> camera(const QString& id) override;
    std::optional<CameraIdentity> defaultCamera() override;
    std::unique_ptr<CameraSession> openSession(const CameraIdentity& camera, CameraMode mode, QString* error) override;

private:
    QString m_folder;
    WorkerThread m_worker{QStringLiteral("pondra-file-camera")};
};

} // namespace pondra
