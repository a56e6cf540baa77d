#include "XvfbServer.h"
#include "platform/core/Scheduler.h"
#include "platform/idle/X11IdleSource.h"
#include "sensing/IdleMonitor.h"

#include <QGuiApplication>
#include <QTest>

using namespace pondra;
using namespace std::chrono_literals;

// Real idle time from a real X server: the test starts its own Xvfb before
// the application connects to it.
class TestX11Idle : public QObject
{
    Q_OBJECT
public:
    explicit TestX11Idle(test::XvfbServer& server) : m_server(server) {}

private Q_SLOTS:
    void idleGrowsAndInputBringsItBack()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        VirtualScheduler scheduler;
        IdleMonitor monitor(std::make_unique<X11IdleSource>(), scheduler);
        QVERIFY(m_server.run(QStringLiteral("xdotool"),
                             {QStringLiteral("mousemove"), QStringLiteral("10"), QStringLiteral("10")}));

        QTest::qWait(1500);
        scheduler.advance(1s);
        const double grown = monitor.idleSeconds.get();
        QVERIFY2(grown >= 1.0, qPrintable(QString::number(grown)));
        QCOMPARE(monitor.isIdle.get(), false);

        QVERIFY(m_server.run(QStringLiteral("xdotool"),
                             {QStringLiteral("mousemove"), QStringLiteral("200"), QStringLiteral("150")}));
        scheduler.advance(1s);
        QVERIFY2(monitor.idleSeconds.get() < 1.0, qPrintable(QString::number(monitor.idleSeconds.get())));

        // The keyboard alone brings it back too: idle first grows past a second again.
        QTest::qWait(1500);
        scheduler.advance(1s);
        QVERIFY2(monitor.idleSeconds.get() >= 1.0, qPrintable(QString::number(monitor.idleSeconds.get())));
        QVERIFY(m_server.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("shift")}));
        scheduler.advance(1s);
        QVERIFY2(monitor.idleSeconds.get() < 1.0, qPrintable(QString::number(monitor.idleSeconds.get())));
    }

private:
    test::XvfbServer& m_server;
};

int main(int argc, char** argv)
{
    test::XvfbServer server;
    if (!server.start()) {
        qCritical("Xvfb did not start");
        return 1;
    }
    qputenv("DISPLAY", server.display().toUtf8());
    QGuiApplication app(argc, argv);
    TestX11Idle test(server);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11idle.moc"
