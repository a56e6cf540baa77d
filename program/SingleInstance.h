#pragma once

#include "platform/core/Scheduler.h"

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include <sys/types.h>

namespace pondra {

/**
 * One running copy per user and settings file. A lock file beside the
 * settings file decides which copy runs, so two copies started together
 * cannot both quit, nor both run; the copy that runs listens on a local
 * socket in the abstract namespace, named after the key, and takes requests
 * only from processes of its own user. A copy that finds another one running
 * asks it, through that socket, to bring its main window forward, and only
 * if the socket belongs to its own user.
 *
 * A lock held by a running copy is never taken over. A lock whose copy is
 * gone, or whose content names no process at all (empty or garbled after a
 * crash or a full disk), is; so is one that names this very process without
 * it holding the lock, which a copy killed in a sandbox with its own process
 * namespace leaves to the next one there. A running copy stops taking
 * requests as soon as it starts to quit, and lets go of the lock when the
 * guard is destroyed, at the very end; a copy started in between waits for
 * the lock.
 */
class SingleInstanceGuard final : public QObject
{
    Q_OBJECT
public:
    /// How the wait of a copy that found the lock held ended.
    enum class Turn
    {
        /// The running copy took the request to bring its main window forward.
        otherCopyCameForward,
        /// The copy that held the lock let go of it (it was quitting): this
        /// copy now holds it and listens.
        ours,
        /// Neither within the wait: a copy holds the lock but does not answer.
        otherCopySilent,
    };

    /// How long a lock whose content names no process may still be in the
    /// middle of being written by the copy that just made it.
    static constexpr milliseconds unnamedLockGrace{2'000};
    /// How long a copy that found the lock held keeps asking and waiting.
    static constexpr milliseconds turnWait{5'000};
    static constexpr milliseconds retryDelay{100};

    explicit SingleInstanceGuard(const QString& settingsFilePath, QObject* parent = nullptr);
    ~SingleInstanceGuard() override;

    /// The user id and the first 16 hex digits of the SHA-256 of the
    /// settings file's absolute path.
    static QString keyFor(const QString& settingsFilePath, uid_t uid);
    /// The lock file beside the settings file.
    static QString lockFilePathFor(const QString& settingsFilePath);

    /// True when this copy is the one that runs (it then holds the lock and
    /// listens); false while another copy holds the lock.
    bool claim();

    /// After a failed claim: asks the copy that holds the lock to bring its
    /// main window forward and, should that copy let go of the lock meanwhile
    /// (it was quitting), takes the lock; trying for `turnWait`. `done` gets
    /// the outcome once, never before this call has returned.
    void waitForTurn(Scheduler& scheduler, std::function<void(Turn)> done);
    /// The same wait on the real clock, for the start of the program, in an
    /// event loop of its own; none when the program was asked to quit
    /// meanwhile.
    std::optional<Turn> waitForTurnHere();

    /// Refuses every request from now on. The running copy does it as it
    /// starts to quit, while it still holds the lock, so that a copy started
    /// during its quit waits for the lock instead of handing its request to a
    /// copy that is going away.
    void stopTakingRequests();

Q_SIGNALS:
    /// Another copy was started and asked for our main window.
    void bringForwardRequested();

private:
    struct Wait;

    void onNewConnection();
    bool takeOverLockLeftBehind();
    void stepWait(const std::shared_ptr<Wait>& wait);
    void askOnce(const std::shared_ptr<Wait>& wait);

    QString m_key;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    bool m_takingRequests = false;
};

} // namespace pondra
