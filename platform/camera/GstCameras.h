#pragma once

#include <QHash>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace pondra {

/*
 * What Qt Multimedia's GStreamer backend (Qt 6.4) does not pass on of the
 * cameras GStreamer knows.
 */

/**
 * The errors GStreamer reports from the camera of a Qt Multimedia capture
 * session. Qt 6.4's GStreamer backend drops them: a camera that is busy or
 * fails to start looks like one that starts and never delivers a frame.
 */
class GstCameraErrors final
{
public:
    using Listener = std::function<void(const QString& error)>;

    /// Calls `listener` with the text of every camera error, on the thread
    /// that reports it, until the returned handle is released.
    static std::shared_ptr<void> listen(Listener listener);
};

/**
 * The cameras GStreamer knows now, counted by name; none when GStreamer has
 * no provider of cameras. Qt 6.4 lists a camera once more for each
 * announcement of it, also of one it listed already, and keeps such a copy
 * after the camera is unplugged; these counts tell how many of its entries
 * of a name are real.
 */
std::optional<QHash<QString, int>> gstCamerasByName();

} // namespace pondra
