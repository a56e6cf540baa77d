#pragma once

#include <QHashFunctions>
#include <QList>
#include <QString>

namespace pondra {

/// One camera, as the settings window lists it.
struct CameraDevice
{
    QString id;
    QString name;

    friend bool operator==(const CameraDevice& a, const CameraDevice& b) { return a.id == b.id && a.name == b.name; }
};

inline size_t qHash(const CameraDevice& device, size_t seed = 0)
{
    return qHashMulti(seed, device.id, device.name);
}

} // namespace pondra
