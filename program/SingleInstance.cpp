#include "program/SingleInstance.h"

#include "platform/core/Log.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocalSocket>
#include <QPointer>
#include <QSysInfo>

#include <sys/socket.h>
#include <unistd.h>

namespace pondra {

namespace {
/// The one request there is: "show your main window", and its answer. A
/// copy counts as reached only once it has answered: one that is quitting
/// may still have let the connection in.
constexpr char showRequest[] = "show\n";
constexpr char shownAnswer[] = "shown\n";

bool peerIsOurUser(const QLocalSocket& socket)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    return credentials.uid == ::getuid();
}
} // namespace

struct SingleInstanceGuard::Wait
{
    Wait(Scheduler& scheduler_, std::function<void(Turn)> done_)
        : scheduler(scheduler_), done(std::move(done_))
    {
    }

    Scheduler& scheduler;
    std::function<void(Turn)> done;
    int stepsLeft = int(turnWait / retryDelay);
    QPointer<QLocalSocket> socket;
    bool finished = false;
    bool foreignOwnerLogged = false;

    void finish(QObject* guard, Turn turn)
    {
        if (std::exchange(finished, true))
            return;
        if (QLocalSocket* open = socket.data()) {
            QObject::disconnect(open, nullptr, guard, nullptr);
            open->abort();
            open->deleteLater();
        }
        if (done)
            std::exchange(done, {})(turn);
    }
};

SingleInstanceGuard::SingleInstanceGuard(const QString& settingsFilePath, QObject* parent)
    : QObject(parent), m_key(keyFor(settingsFilePath, ::getuid())),
      m_lock(std::make_unique<QLockFile>(lockFilePathFor(settingsFilePath)))
{
    // A lock goes stale when the copy that took it has gone, however old it
    // is; one that names no copy, or this very process, is judged by
    // takeOverLockLeftBehind().
    m_lock->setStaleLockTime(0);
    m_server.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstanceGuard::onNewConnection);
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    // Nobody is let in any more before the lock goes (the members are
    // destroyed after this body: the server, then the lock).
    stopTakingRequests();
}

QString SingleInstanceGuard::keyFor(const QString& settingsFilePath, uid_t uid)
{
    const QByteArray digest = QCryptographicHash::hash(
        QFileInfo(settingsFilePath).absoluteFilePath().toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("%1.%2.%3")
        .arg(QLatin1String(bundleIdentifier))
        .arg(uid)
        .arg(QString::fromLatin1(digest.toHex().left(16)));
}

QString SingleInstanceGuard::lockFilePathFor(const QString& settingsFilePath)
{
    // Not "<settings file>.lock": the settings file's own writer locks that one.
    const QFileInfo settings(settingsFilePath);
    return settings.absoluteDir().filePath(settings.completeBaseName() + QStringLiteral(".instance.lock"));
}

bool SingleInstanceGuard::claim()
{
    if (m_lock->isLocked())
        return true;
    QDir().mkpath(QFileInfo(m_lock->fileName()).absolutePath());
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() != QLockFile::LockFailedError) {
            // The folder cannot hold a lock (read-only, full): nobody can tell
            // the copies apart, so this one runs rather than none.
            logError(lcApp, "Cannot create the instance lock %s", m_lock->fileName());
            return true;
        }
        if (!takeOverLockLeftBehind())
            return false;
    }
    if (!m_server.listen(m_key))
        logError(lcApp, "Cannot listen for other copies of Pondra: %@", m_server.errorString());
    m_takingRequests = true;
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &SingleInstanceGuard::stopTakingRequests);
    return true;
}

bool SingleInstanceGuard::takeOverLockLeftBehind()
{
    // Copies that find the same lock judge and replace it one at a time, each
    // judging the lock that is there now, so that none of them removes the
    // fresh lock another one has just taken.
    QLockFile takeover(m_lock->fileName() + QStringLiteral(".takeover"));
    takeover.setStaleLockTime(int(unnamedLockGrace.count()));
    if (!takeover.tryLock(0))
        return false;
    qint64 pid = 0;
    QString host;
    QString program;
    const QFileInfo lock(m_lock->fileName());
    if (m_lock->getLockInfo(&pid, &host, &program)) {
        // A lock that names a copy is tryLock()'s to judge, and it has already
        // replaced one whose copy is gone: what is left is a running copy's,
        // one from another machine, or one that names this very process,
        // which tryLock() takes for alive. This process does not hold it, so
        // it was left by a copy that had the same number: in a sandbox with
        // its own process namespace every start gets the same one.
        if (pid != QCoreApplication::applicationPid() || host != QSysInfo::machineHostName())
            return false;
    } else if (lock.exists()) {
        // A copy writes its lock right after making it: give it that moment.
        const qint64 age = lock.lastModified().msecsTo(QDateTime::currentDateTimeUtc());
        if (qAbs(age) < unnamedLockGrace.count())
            return false;
    }
    if (lock.exists()) {
        // QLockFile removes it only while no process holds it, so the lock of
        // a running copy stays, even if its content was spoiled or it is a
        // copy in another namespace that has our number.
        if (!m_lock->removeStaleLockFile())
            return false;
        logInfo(lcApp, "Took over the instance lock %s, which named no running copy", m_lock->fileName());
    }
    return m_lock->tryLock(0);
}

void SingleInstanceGuard::stopTakingRequests()
{
    m_takingRequests = false;
    m_server.close();
    // Requests let in but not yet answered are refused as well: their copies
    // then wait for the lock.
    for (QLocalSocket* socket : m_server.findChildren<QLocalSocket*>())
        socket->abort();
}

void SingleInstanceGuard::onNewConnection()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!m_takingRequests || !peerIsOurUser(*socket)) {
            socket->abort();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (m_takingRequests && socket->canReadLine()) {
                if (socket->readLine() == showRequest) {
                    Q_EMIT bringForwardRequested();
                    socket->write(shownAnswer);
                }
            }
        });
    }
}

void SingleInstanceGuard::waitForTurn(Scheduler& scheduler, std::function<void(Turn)> done)
{
    auto wait = std::make_shared<Wait>(scheduler, std::move(done));
    scheduler.post(this, [this, wait] { stepWait(wait); });
}

std::optional<SingleInstanceGuard::Turn> SingleInstanceGuard::waitForTurnHere()
{
    std::optional<Turn> turn;
    QEventLoop loop;
    // The loop also ends when the program is asked to quit; the answer that
    // comes after that finds nobody waiting for it.
    auto waiting = std::make_shared<bool>(true);
    waitForTurn(RealScheduler::instance(), [&turn, &loop, waiting](Turn outcome) {
        if (!*waiting)
            return;
        turn = outcome;
        loop.quit();
    });
    loop.exec();
    *waiting = false;
    return turn;
}

void SingleInstanceGuard::stepWait(const std::shared_ptr<Wait>& wait)
{
    if (wait->finished)
        return;
    if (claim()) {
        wait->finish(this, Turn::ours);
        return;
    }
    if (wait->stepsLeft-- <= 0) {
        wait->finish(this, Turn::otherCopySilent);
        return;
    }
    // One request at a time: a copy that let us in but has not answered yet
    // may still do so.
    if (!wait->socket)
        askOnce(wait);
    wait->scheduler.after(retryDelay, this, [this, wait] { stepWait(wait); });
}

void SingleInstanceGuard::askOnce(const std::shared_ptr<Wait>& wait)
{
    auto* socket = new QLocalSocket(this);
    wait->socket = socket;
    socket->setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    connect(socket, &QLocalSocket::connected, this, [wait, socket] {
        // The name is open to every user on the machine: whoever took it
        // first hears nothing from us unless it is one of our own processes.
        if (!peerIsOurUser(*socket)) {
            if (!std::exchange(wait->foreignOwnerLogged, true))
                logError(lcApp, "Not asking the other copy of Pondra to come forward: its socket belongs to "
                                "another user");
            socket->abort();
            return;
        }
        socket->write(showRequest);
    });
    connect(socket, &QLocalSocket::readyRead, this, [this, wait, socket] {
        while (socket->canReadLine()) {
            if (socket->readLine() == shownAnswer) {
                wait->finish(this, Turn::otherCopyCameForward);
                return;
            }
        }
    });
    // Refused, or hung up before it answered: the next step asks again, or
    // finds the lock free.
    const auto drop = [wait, socket] {
        if (wait->socket == socket)
            wait->socket = nullptr;
        socket->deleteLater();
    };
    connect(socket, &QLocalSocket::disconnected, this, drop);
    connect(socket, &QLocalSocket::errorOccurred, this, drop);
    socket->connectToServer(m_key);
}

} // namespace pondra
