#include "program/SingleInstance.h"

#include "platform/core/Log.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>

#include <sys/socket.h>
#include <unistd.h>

namespace pondra {

namespace {
/// The one request there is: "show your main window".
constexpr char showRequest[] = "show\n";
constexpr auto retryDelay = std::chrono::milliseconds(100);
/// About five seconds: a copy that holds the lock listens before it builds anything.
constexpr int attempts = 50;

bool peerIsOurUser(const QLocalSocket& socket)
{
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    return credentials.uid == ::getuid();
}
} // namespace

SingleInstanceGuard::SingleInstanceGuard(const QString& settingsFilePath, QObject* parent)
    : QObject(parent), m_key(keyFor(settingsFilePath, ::getuid())),
      m_lock(std::make_unique<QLockFile>(lockFilePathFor(settingsFilePath)))
{
    // A lock is stale only when the copy that took it has gone, however old it is.
    m_lock->setStaleLockTime(0);
    m_server.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstanceGuard::onNewConnection);
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    m_server.close();
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
    QDir().mkpath(QFileInfo(m_lock->fileName()).absolutePath());
    if (!m_lock->tryLock(0)) {
        if (m_lock->error() == QLockFile::LockFailedError)
            return false;
        // The folder cannot hold a lock (read-only, full): nobody can tell
        // the copies apart, so this one runs rather than none.
        logError(lcApp, "Cannot create the instance lock %s", m_lock->fileName());
        return true;
    }
    if (!m_server.listen(m_key))
        logError(lcApp, "Cannot listen for other copies of Pondra: %@", m_server.errorString());
    return true;
}

void SingleInstanceGuard::onNewConnection()
{
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!peerIsOurUser(*socket)) {
            socket->abort();
            continue;
        }
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == showRequest)
                    Q_EMIT bringForwardRequested();
            }
        });
    }
}

void SingleInstanceGuard::askRunningCopyToComeForward(Scheduler& scheduler, std::function<void(bool)> done)
{
    tryToReach(scheduler, attempts, std::move(done));
}

void SingleInstanceGuard::tryToReach(Scheduler& scheduler, int attemptsLeft, std::function<void(bool)> done)
{
    auto* socket = new QLocalSocket(this);
    socket->setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    connect(socket, &QLocalSocket::connected, this, [this, socket, done] {
        // Reached: what the socket reports from now on is no reason to try again.
        QObject::disconnect(socket, nullptr, this, nullptr);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        socket->write(showRequest);
        socket->disconnectFromServer();
        if (done)
            done(true);
    });
    connect(socket, &QLocalSocket::errorOccurred, this,
            [this, socket, &scheduler, attemptsLeft, done](QLocalSocket::LocalSocketError) {
                socket->deleteLater();
                if (attemptsLeft <= 1) {
                    if (done)
                        done(false);
                    return;
                }
                scheduler.after(retryDelay, this, [this, &scheduler, attemptsLeft, done] {
                    tryToReach(scheduler, attemptsLeft - 1, done);
                });
            });
    socket->connectToServer(m_key);
}

} // namespace pondra
