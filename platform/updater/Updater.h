#pragma once

#include "platform/core/Published.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace pondra {

/// What one check that the user started found out.
struct UpdateCheckResult
{
    enum class Kind
    {
        updateAvailable,
        upToDate,
        failed,
    };

    Kind kind = Kind::failed;
    /// The version offered (`updateAvailable`).
    QString version;
    /// Where the offered version can be downloaded (`updateAvailable`): a
    /// link that isSecureUpdateLink() accepts, and no less secure than the
    /// feed that named it.
    QUrl downloadPage;
    /// Why the check failed (`failed`), for the user.
    QString error;

    bool operator==(const UpdateCheckResult&) const = default;
};

/**
 * The software updater: made once per process, it says whether a check can
 * be started now and runs one check each time the user asks. It never checks
 * by itself and never downloads or installs anything. Main thread only.
 */
class Updater
{
public:
    using Callback = std::function<void(const UpdateCheckResult&)>;

    virtual ~Updater() = default;

    /// Whether a check can be started now: false without an update feed and
    /// while a check runs.
    virtual const ReadOnly<bool>& canCheckForUpdates() const = 0;

    /// Starts one check that the user asked for. `done` runs once, on the main
    /// thread, while `context` lives. While no check can be started the call
    /// is ignored and `done` never runs.
    virtual void checkForUpdates(QObject* context, Callback done) = 0;
};

/// Whether the updater may fetch from, or send the user to, `url`: https
/// with a host, or plain http on a loopback address (local test feeds).
bool isSecureUpdateLink(const QUrl& url);

/// The updater of this build: the feed checker on the feed address the build
/// was configured with (PONDRA_UPDATE_FEED_URL); without one it can never check.
std::unique_ptr<Updater> makeDefaultUpdater();

} // namespace pondra
