#pragma once

#include "platform/camera/CameraBackend.h"
#include "platform/camera/WorkerThread.h"

#include <QStringList>

namespace pondra {

/**
 * The system's cameras through Qt Multimedia. Each session's camera lives on
 * the backend's camera thread, since starting and stopping one blocks; frames
 * and stills are converted and scaled on a thread of their own.
 *
 * Qt names cameras by the order it found them in, which a replug or a reboot
 * changes; a camera's identifier here is its name, with its place among
 * cameras of the same name where there are several (see `stableCameraIds`).
 *
 * Qt turns frames into images with the graphics stack of a QGuiApplication;
 * in any other application there is no camera.
 */
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
    bool m_usable = false;
    // Declared first, ended last: the camera thread hands frames to it.
    WorkerThread m_converter{QStringLiteral("pondra-frames")};
    WorkerThread m_worker{QStringLiteral("pondra-camera")};
};

/**
 * Identifiers that name the same camera across restarts and replugs, for
 * cameras listed by name: each camera's name (a nameless one is "Camera");
 * the second and later cameras of one name get " #2", " #3"... in list order.
 */
QStringList stableCameraIds(const QStringList& names);

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
