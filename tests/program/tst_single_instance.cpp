// The single-instance guard: who runs, and the request to come forward,
// between guards of one process (the lock and the socket behave the same
// between processes; the end-to-end test starts real copies).
#include "program/SingleInstance.h"

#include "TestEnvironment.h"

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <unistd.h>

using namespace pondra;
using namespace std::chrono_literals;

class TestSingleInstance final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keyNamesUserAndSettingsFile();
    void oneCopyPerSettingsFile();
    void secondCopyBringsTheFirstForward();
    void nobodyToReach();
    void otherUsersAreNotHeard();
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
    const QString settings = home.path() + QStringLiteral("/config/Pondra/Pondra.conf");
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
    const QString settings = home.path() + QStringLiteral("/config/Pondra/Pondra.conf");
    SingleInstanceGuard first(settings);
    QVERIFY(first.claim());
    QSignalSpy forward(&first, &SingleInstanceGuard::bringForwardRequested);
    SingleInstanceGuard second(settings);
    QVERIFY(!second.claim());
    std::optional<bool> reached;
    second.askRunningCopyToComeForward(RealScheduler::instance(), [&](bool r) { reached = r; });
    QTRY_VERIFY(reached.has_value());
    QVERIFY(*reached);
    QTRY_COMPARE(forward.size(), 1);
}

void TestSingleInstance::nobodyToReach()
{
    // The copy holding the lock may still be starting: the ask keeps trying
    // for about five seconds, then gives up.
    test::ScopedXdgHome home;
    VirtualScheduler scheduler;
    SingleInstanceGuard lonely(home.path() + QStringLiteral("/config/Pondra/Pondra.conf"));
    std::optional<bool> reached;
    lonely.askRunningCopyToComeForward(scheduler, [&](bool r) { reached = r; });
    const auto waitVirtually = [&](int steps) {
        for (int i = 0; i < steps && !reached; ++i) {
            QCoreApplication::processEvents();
            scheduler.advance(100ms);
            QCoreApplication::processEvents();
        }
    };
    waitVirtually(45);
    QVERIFY(!reached);
    waitVirtually(20);
    QVERIFY(reached.has_value());
    QCOMPARE(*reached, false);
}

void TestSingleInstance::otherUsersAreNotHeard()
{
    if (::getuid() != 0)
        QSKIP("needs root to connect as another user");
    test::ScopedXdgHome home;
    const QString settings = home.path() + QStringLiteral("/config/Pondra/Pondra.conf");
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

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
