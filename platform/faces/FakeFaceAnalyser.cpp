#include "platform/faces/FaceAnalyser.h"

namespace pondra {

std::vector<FaceBox> FakeFaceAnalyser::detectFaces(const QImage& image, QString* error)
{
    if (failure) {
        if (QString text = failure(image); !text.isEmpty()) {
            if (error)
                *error = text;
            return {};
        }
    }
    return faces ? faces(image) : std::vector<FaceBox>{};
}

float FakeFaceAnalyser::captureQuality(const QImage& image, QString* error)
{
    if (failure) {
        if (QString text = failure(image); !text.isEmpty()) {
            if (error)
                *error = text;
            return 0;
        }
    }
    return quality ? quality(image) : 0.0f;
}

} // namespace pondra
