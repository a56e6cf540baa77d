// The single-instance guard: who runs, what becomes of a lock left behind,
// and the request to come forward, between guards of this process and
// copies in processes of their own (the end-to-end test starts the program).
#include "program/SingleInstance.h"

#include "TestEnvironment.h"
#include "TestProcesses.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <unistd.h>

using namespace pondra;
using namespace std::chrono_literals;
using Turn = SingleInstanceGuard::Turn;

namespace {

/// A running copy in a process of its own (tests/program/InstanceHolder.cpp).
class Holder final
{
public:
    /// Its first line: "claimed", or "held" when another copy has the lock.
    QString start(const QString& settings)
    {
        if (!m_process.start(QStringLiteral(PONDRA_INSTANCE_HOLDER_PATH), {settings}))
            return {};
        return m_process.readLine();
    }
    void tell(const char* line) { m_process.process()->write(QByteArray(line) + '\n'); }
    QString readLine() { return m_process.readLine(); }
    /// Everything it said since the last read.
    QString output() { return QString::fromUtf8(m_process.process()->readAllStandardOutput()); }
    bool waitForExit() { return m_process.process()->waitForFinished(10'000); }
    /// Ends it as a crash does: the lock stays behind, naming a process that is gone.
    bool crash()
    {
        m_process.process()->kill();
        return waitForExit();
    }
    bool isRunning() const { return m_process.isRunning(); }

private:
    test::ManagedProcess m_process;
};

/// A guard's wait for its turn on virtual time, with a real moment between
/// its steps for the other processes and sockets to do their part.
struct TurnWait
{
    VirtualScheduler scheduler;
    std::optional<Turn> turn;

    explicit TurnWait(SingleInstanceGuard& guard)
    {
        guard.waitForTurn(scheduler, [this](Turn outcome) { turn = outcome; });
    }
    /// Runs up to `steps` steps of the wait, fewer when it ends sooner.
    void run(int steps)
    {
        for (int i = 0; i < steps && !turn; ++i) {
            QTest::qWait(5);
            scheduler.advance(SingleInstanceGuard::retryDelay);
        }
    }
    /// Runs it to its end, a little past the longest it may take.
    std::optional<Turn> outcome()
    {
        run(int(SingleInstanceGuard::turnWait / SingleInstanceGuard::retryDelay) + 10);
        return turn;
    }
};

QString settingsIn(const test::ScopedXdgHome& home)
{
    return home.path() + QStringLiteral("/config/Pondra/Pondra.conf");
}

void setModified(const QString& path, const QDateTime& modified)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

void writeLock(const QString& path, const QByteArray& content, const QDateTime& modified)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
    file.close();
    setModified(path, modified);
}

/// The process the lock names, or none.
std::optional<qint64> lockOwner(const QString& path)
{
    qint64 pid = 0;
    QString host, program;
    if (!QLockFile(path).getLockInfo(&pid, &host, &program))
        return std::nullopt;
    return pid;
}

const QDateTime anHourAgo = QDateTime::currentDateTimeUtc().addSecs(-3600);

} // namespace

class TestSingleInstance final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keyNamesUserAndSettingsFile();
    void oneCopyPerSettingsFile();
    void secondCopyBringsTheFirstForward();
    void lockLeftBehindIsTakenOver_data();
    void lockLeftBehindIsTakenOver();
    void lockOfARunningCopyIsKept_data();
    void lockOfARunningCopyIsKept();
    void unnamedLockGetsAMomentToBeWritten();
    void lockNamingThisProcessIsADeadCopys_data();
    void lockNamingThisProcessIsADeadCopys();
    void startDuringTheFirstCopysQuit();
    void copyThatDoesNotAnswerIsNotTakenForReached_data();
    void copyThatDoesNotAnswerIsNotTakenForReached();
    void otherUsersAreNotHeard();
    void otherUsersAreNotAsked();
};

void TestSingleInstance::keyNamesUserAndSettingsFile()
{
    const QString key =
        SingleInstanceGuard::keyFor(QStringLiteral("/home/ana/.config/Pondra/Pondra.conf"), 1000);
    QVERIFY2(QRegularExpression(QStringLiteral("^org\\.pondra\\.Pondra\\.1000\\.[0-9a-f]{16}$"))
                 .match(key)
                 .hasMatch(),
             qPrintable(key));
    QVERIFY(key != SingleInstanceGuard::keyFor(QStringLiteral("/home/ana/.config/Pondra/Pondra.conf"), 1001));
    QVERIFY(key != SingleInstanceGuard::keyFor(QStringLiteral("/home/bo/.config/Pondra/Pondra.conf"), 1000));
    QCOMPARE(SingleInstanceGuard::lockFilePathFor(QStringLiteral("/home/ana/.config/Pondra/Pondra.conf")),
             QStringLiteral("/home/ana/.config/Pondra/Pondra.instance.lock"));
}

void TestSingleInstance::oneCopyPerSettingsFile()
{
    test::ScopedXdgHome home;
    const QString settings = settingsIn(home);
    const QString other = home.path() + QStringLiteral("/other/Pondra/Pondra.conf");
    auto first = std::make_unique<SingleInstanceGuard>(settings);
    QVERIFY(first->claim());
    QVERIFY(QFileInfo::exists(SingleInstanceGuard::lockFilePathFor(settings)));
    SingleInstanceGuard second(settings);
    QVERIFY(!second.claim());
    SingleInstanceGuard elsewhere(other);
    QVERIFY(elsewhere.claim());

    // Once the first has ended, the next copy runs.
    first.reset();
    SingleInstanceGuard third(settings);
    QVERIFY(third.claim());
}

void TestSingleInstance::secondCopyBringsTheFirstForward()
{
    test::ScopedXdgHome home;
    SingleInstanceGuard first(settingsIn(home));
    QVERIFY(first.claim());
    QSignalSpy forward(&first, &SingleInstanceGuard::bringForwardRequested);
    SingleInstanceGuard second(settingsIn(home));
    QVERIFY(!second.claim());
    TurnWait wait(second);
    QCOMPARE(wait.outcome(), std::optional(Turn::otherCopyCameForward));
    QCOMPARE(forward.size(), 1);
}

void TestSingleInstance::lockLeftBehindIsTakenOver_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("leftByACrash");
    // A crash between making the lock and writing it, or a full disk.
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("garbled") << QByteArray("\x7f\x01pondra?\n\xff") << false;
    QTest::newRow("no number where the process goes") << QByteArray("pondra\npondra\nhost\n") << false;
    // A copy that crashed after writing its lock: it names a process that is gone.
    QTest::newRow("of a copy that is gone") << QByteArray() << true;
}

void TestSingleInstance::lockLeftBehindIsTakenOver()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, leftByACrash);
    test::ScopedXdgHome home;
    const QString settings = settingsIn(home);
    const QString lock = SingleInstanceGuard::lockFilePathFor(settings);
    if (leftByACrash) {
        Holder crashed;
        QCOMPARE(crashed.start(settings), QStringLiteral("claimed"));
        QVERIFY(crashed.crash());
        QVERIFY(lockOwner(lock).has_value());
    } else {
        writeLock(lock, content, anHourAgo);
    }

    SingleInstanceGuard guard(settings);
    QVERIFY(guard.claim());
    QCOMPARE(lockOwner(lock), std::optional(QCoreApplication::applicationPid()));
    // It runs as any first copy does: the next one finds it and reaches it.
    SingleInstanceGuard next(settings);
    QVERIFY(!next.claim());
    TurnWait wait(next);
    QCOMPARE(wait.outcome(), std::optional(Turn::otherCopyCameForward));
}

void TestSingleInstance::lockOfARunningCopyIsKept_data()
{
    QTest::addColumn<bool>("spoiled");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("however old") << false << QByteArray();
    QTest::newRow("even emptied") << true << QByteArray();
    QTest::newRow("even garbled") << true << QByteArray("garbage\n");
}

void TestSingleInstance::lockOfARunningCopyIsKept()
{
    QFETCH(bool, spoiled);
    QFETCH(QByteArray, content);
    test::ScopedXdgHome home;
    const QString settings = settingsIn(home);
    const QString lock = SingleInstanceGuard::lockFilePathFor(settings);
    Holder running;
    QCOMPARE(running.start(settings), QStringLiteral("claimed"));
    const std::optional<qint64> owner = lockOwner(lock);
    QVERIFY(owner.has_value());
    if (spoiled)
        writeLock(lock, content, anHourAgo);
    else
        setModified(lock, anHourAgo);

    SingleInstanceGuard guard(settings);
    QVERIFY(!guard.claim());
    SingleInstanceGuard another(settings);
    QVERIFY(!another.claim());
    QVERIFY(running.isRunning());
    QVERIFY(QFileInfo::exists(lock));
    if (!spoiled)
        QCOMPARE(lockOwner(lock), owner);
}

void TestSingleInstance::unnamedLockGetsAMomentToBeWritten()
{
    // A lock that names no process yet may be one a copy has just made and
    // is about to write: it is taken over only once that moment is past.
    test::ScopedXdgHome home;
    const QString settings = settingsIn(home);
    const QString lock = SingleInstanceGuard::lockFilePathFor(settings);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    writeLock(lock, QByteArray(), now);
    SingleInstanceGuard guard(settings);
    QVERIFY(!guard.claim());
    QVERIFY(QFileInfo::exists(lock));

    setModified(lock, now.addMSecs(-SingleInstanceGuard::unnamedLockGrace.count() - 500));
    QVERIFY(guard.claim());
    QCOMPARE(lockOwner(lock), std::optional(QCoreApplication::applicationPid()));
}

void TestSingleInstance::lockNamingThisProcessIsADeadCopys_data()
{
    QTest::addColumn<bool>("heldElsewhere");
    // In a sandbox with its own process namespace every start gets the same
    // number: a copy killed there leaves a lock that names the next one.
    QTest::newRow("held by nobody") << false;
    // A copy in another namespace, which had the same number, still runs.
    QTest::newRow("held by another process") << true;
}

void TestSingleInstance::lockNamingThisProcessIsADeadCopys()
{
    QFETCH(bool, heldElsewhere);
    test::ScopedXdgHome home;
    const QString settings = settingsIn(home);
    const QString lock = SingleInstanceGuard::lockFilePathFor(settings);
    QVERIFY(QDir().mkpath(QFileInfo(lock).absolutePath()));
    // What a lock of this process says: its number, name and host.
    QByteArray ours;
    {
        QLockFile own(lock + QStringLiteral(".own"));
        QVERIFY(own.tryLock(0));
        QFile written(own.fileName());
        QVERIFY(written.open(QIODevice::ReadOnly));
        ours = written.readAll();
    }
    writeLock(lock, ours, anHourAgo);
    QCOMPARE(lockOwner(lock), std::optional(QCoreApplication::applicationPid()));
    test::ManagedProcess holder;
    if (heldElsewhere) {
        // util-linux's flock(1) holds it for as long as it runs (its command does not).
        QVERIFY(holder.start(QStringLiteral("flock"),
                             {QStringLiteral("--exclusive"), QStringLiteral("--close"), lock,
                              QStringLiteral("-c"), QStringLiteral("echo held; exec cat")}));
        QCOMPARE(holder.readLine(), QStringLiteral("held"));
    }

    SingleInstanceGuard guard(settings);
    QCOMPARE(guard.claim(), !heldElsewhere);
    if (heldElsewhere) {
        // Left as it is while that process holds it; once it is gone, taken over.
        QFile kept(lock);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), ours);
        holder.stop();
        QVERIFY(guard.claim());
    }
    // Held now: the next copy finds it running and reaches it.
    SingleInstanceGuard next(settings);
    QVERIFY(!next.claim());
    TurnWait wait(next);
    QCOMPARE(wait.outcome(), std::optional(Turn::otherCopyCameForward));
}

void TestSingleInstance::startDuringTheFirstCopysQuit()
{
    test::ScopedXdgHome home;
    const QString settings = settingsIn(home);
    Holder first;
    QCOMPARE(first.start(settings), QStringLiteral("claimed"));
    SingleInstanceGuard second(settings);
    QVERIFY(!second.claim());

    // The first copy quits and is still tearing down, with the lock held.
    first.tell("quit");
    QCOMPARE(first.readLine(), QStringLiteral("quitting"));
    // It takes no more requests...
    QLocalSocket knock;
    knock.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    knock.connectToServer(SingleInstanceGuard::keyFor(settings, ::getuid()));
    QVERIFY(!knock.waitForConnected(1'000));
    // ...so the new copy waits for the lock rather than asking a copy that is going away.
    TurnWait wait(second);
    wait.run(10);
    QVERIFY(!wait.turn);

    first.tell("exit");
    QVERIFY(first.waitForExit());
    QCOMPARE(wait.outcome(), std::optional(Turn::ours));
    QVERIFY(!first.output().contains(QLatin1String("asked")));
    // Exactly one copy runs: the new one.
    SingleInstanceGuard third(settings);
    QVERIFY(!third.claim());
}

void TestSingleInstance::copyThatDoesNotAnswerIsNotTakenForReached_data()
{
    QTest::addColumn<bool>("letsIn");
    // The copy holding the lock listens on nothing (it failed to), or lets
    // the request in and never answers (hung, or quitting).
    QTest::newRow("nobody listens") << false;
    QTest::newRow("let in, never answered") << true;
}

void TestSingleInstance::copyThatDoesNotAnswerIsNotTakenForReached()
{
    QFETCH(bool, letsIn);
    test::ScopedXdgHome home;
    const QString settings = settingsIn(home);
    QDir().mkpath(QFileInfo(settings).absolutePath());
    QLockFile held(SingleInstanceGuard::lockFilePathFor(settings));
    QVERIFY(held.tryLock(0));
    QLocalServer silent;
    silent.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    QByteArray heard;
    if (letsIn) {
        QVERIFY(silent.listen(SingleInstanceGuard::keyFor(settings, ::getuid())));
        connect(&silent, &QLocalServer::newConnection, this, [&] {
            while (QLocalSocket* socket = silent.nextPendingConnection())
                connect(socket, &QLocalSocket::readyRead, this,
                        [&heard, socket] { heard += socket->readAll(); });
        });
    }

    SingleInstanceGuard guard(settings);
    QVERIFY(!guard.claim());
    // The copy holding the lock may be starting: the guard keeps at it for
    // about five seconds, then gives up.
    TurnWait wait(guard);
    wait.run(45);
    QVERIFY(!wait.turn);
    QCOMPARE(wait.outcome(), std::optional(Turn::otherCopySilent));
    QCOMPARE(heard, letsIn ? QByteArray("show\n") : QByteArray());
}

void TestSingleInstance::otherUsersAreNotHeard()
{
    if (::getuid() != 0)
        QSKIP("needs root to connect as another user");
    test::ScopedXdgHome home;
    const QString settings = settingsIn(home);
    SingleInstanceGuard first(settings);
    QVERIFY(first.claim());
    QSignalSpy forward(&first, &SingleInstanceGuard::bringForwardRequested);

    // The socket has no file, so no file mode keeps others out: the guard must.
    const QString key = SingleInstanceGuard::keyFor(settings, ::getuid());
    const QString script = QStringLiteral("import socket, sys\n"
                                          "s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)\n"
                                          "s.connect('\\0' + sys.argv[1])\n"
                                          "s.sendall(b'show\\n')\n"
                                          "s.recv(1)\n");
    for (const QString& user : {QStringLiteral("65534"), QStringLiteral("0")}) {
        QProcess client;
        client.start(QStringLiteral("setpriv"),
                     {QStringLiteral("--reuid=") + user, QStringLiteral("--regid=") + user,
                      QStringLiteral("--clear-groups"), QStringLiteral("/usr/bin/python3"),
                      QStringLiteral("-c"), script, key});
        QVERIFY(client.waitForStarted());
        QTRY_VERIFY(client.state() == QProcess::NotRunning || forward.size() > 0);
        if (user == QLatin1String("0"))
            QTRY_COMPARE(forward.size(), 1);
        else
            QCOMPARE(forward.size(), 0);
        client.kill();
        client.waitForFinished();
    }
}

void TestSingleInstance::otherUsersAreNotAsked()
{
    if (::getuid() != 0)
        QSKIP("needs root to listen as another user");
    // Another user took the socket's name before our first copy could (the
    // name is open to everyone): our request must not reach them.
    test::ScopedXdgHome home;
    const QString settings = settingsIn(home);
    QDir().mkpath(QFileInfo(settings).absolutePath());
    QLockFile held(SingleInstanceGuard::lockFilePathFor(settings));
    QVERIFY(held.tryLock(0));
    const QString script = QStringLiteral("import socket, sys\n"
                                          "s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)\n"
                                          "s.bind('\\0' + sys.argv[1])\n"
                                          "s.listen(8)\n"
                                          "print('listening', flush=True)\n"
                                          "while True:\n"
                                          "    c, _ = s.accept()\n"
                                          "    data = b''\n"
                                          "    while True:\n"
                                          "        chunk = c.recv(64)\n"
                                          "        if not chunk: break\n"
                                          "        data += chunk\n"
                                          "    print('heard %d' % len(data), flush=True)\n"
                                          "    c.close()\n");
    test::ManagedProcess squatter;
    QVERIFY(
        squatter.start(QStringLiteral("setpriv"),
                       {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                        QStringLiteral("--clear-groups"), QStringLiteral("/usr/bin/python3"),
                        QStringLiteral("-c"), script, SingleInstanceGuard::keyFor(settings, ::getuid())}));
    QCOMPARE(squatter.readLine(), QStringLiteral("listening"));

    SingleInstanceGuard guard(settings);
    QVERIFY(!guard.claim());
    QTest::ignoreMessage(QtCriticalMsg, "Not asking the other copy of Pondra to come forward: its socket "
                                        "belongs to another user");
    TurnWait wait(guard);
    QCOMPARE(wait.outcome(), std::optional(Turn::otherCopySilent));
    // It was connected to (and left at once) without a byte.
    QCOMPARE(squatter.readLine(), QStringLiteral("heard 0"));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
