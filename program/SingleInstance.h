#pragma once

#include "platform/core/Scheduler.h"

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include <sys/types.h>

namespace pondra {

/**
 * One running copy per user and settings file. A lock file beside the
 * settings file decides which copy runs, so two copies started together
 * cannot both quit, nor both run; the copy that runs listens on a local
 * socket in the abstract namespace, named after the key, and takes requests
 * only from processes of its own user. A copy that finds another one running
 * asks it, through that socket, to bring its main window forward.
 */
class SingleInstanceGuard final : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstanceGuard(const QString& settingsFilePath, QObject* parent = nullptr);
    ~SingleInstanceGuard() override;

    /// The user id and the first 16 hex digits of the SHA-256 of the
    /// settings file's absolute path.
    static QString keyFor(const QString& settingsFilePath, uid_t uid);
    /// The lock file beside the settings file.
    static QString lockFilePathFor(const QString& settingsFilePath);

    /// True when this copy is the one that runs (it then holds the lock and
    /// listens); false when another copy holds the lock. Call once.
    bool claim();

    /// Asks the running copy to bring its main window forward, trying again
    /// for a while in case it is still starting. `done` gets whether it was
    /// reached. Returns at once.
    void askRunningCopyToComeForward(Scheduler& scheduler, std::function<void(bool reached)> done = {});

Q_SIGNALS:
    /// Another copy was started and asked for our main window.
    void bringForwardRequested();

private:
    void onNewConnection();
    void tryToReach(Scheduler& scheduler, int attemptsLeft, std::function<void(bool)> done);

    QString m_key;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};

} // namespace pondra
