#include "LogRecorder.h"
#include "TestProcesses.h"
#include "platform/idle/DBusIdleSource.h"

#include <QDBusMessage>
#include <QProcessEnvironment>
#include <QTest>

#include <algorithm>

using namespace pondra;

namespace {
/// The "unavailable" lines among the recorded ones, to show each is logged once.
qsizetype unavailableLines(const test::LogRecorder& log)
{
    const QStringList lines = log.texts(QtInfoMsg);
    return std::count_if(lines.begin(), lines.end(), [](const QString& line) {
        return line.startsWith(QLatin1String("Idle time unavailable from the desktop: "));
    });
}
} // namespace

// The Wayland idle source against real D-Bus services on a private session bus.
class TestDBusIdle : public QObject
{
    Q_OBJECT
private:
    static QString mockTemplate()
    {
        return qEnvironmentVariable("PONDRA_SOURCE_DIR") +
               QStringLiteral("/tests/idle/desktop_session_mock.py");
    }

    static std::optional<double> settledReading(DBusIdleSource& source)
    {
        std::optional<double> reading;
        (void)QTest::qWaitFor([&] { return (reading = source.latestIdleSeconds()).has_value(); }, 5000);
        return reading;
    }

private Q_SLOTS:
    void readsTheServiceInSeconds_data()
    {
        QTest::addColumn<QString>("parameters");
        QTest::addColumn<double>("seconds");
        QTest::newRow("Mutter first, in milliseconds")
            << R"({"mutterIdleMs": 4200, "screensaverIdleMs": 9000})" << 4.2;
        QTest::newRow("freedesktop screensaver without Mutter, in milliseconds")
            << R"({"screensaverIdleMs": 7500})" << 7.5;
        QTest::newRow("Mutter's 64-bit count") << R"({"mutterIdleMs": 5000000000})" << 5000000.0;
    }
    void readsTheServiceInSeconds()
    {
        QFETCH(QString, parameters);
        QFETCH(double, seconds);
        test::PrivateBus bus;
        QVERIFY(bus.start());
        test::DBusMockProcess mock;
        QVERIFY(mock.start(bus, false, mockTemplate(), parameters));
        QVERIFY(bus.waitForService(QStringLiteral("org.freedesktop.ScreenSaver")));
        if (parameters.contains(QLatin1String("mutter")))
            QVERIFY(bus.waitForService(QStringLiteral("org.gnome.Mutter.IdleMonitor")));

        DBusIdleSource source(bus.connection());
        const auto reading = settledReading(source);
        QVERIFY(reading);
        QCOMPARE(*reading, seconds);
    }

    void failedReadingKeepsThePreviousOneAndLogsOnce()
    {
        test::PrivateBus bus;
        QVERIFY(bus.start());
        test::DBusMockProcess mock;
        QVERIFY(mock.start(bus, false, mockTemplate(), QStringLiteral(R"({"mutterIdleMs": 3000})")));
        QVERIFY(bus.waitForService(QStringLiteral("org.gnome.Mutter.IdleMonitor")));
        DBusIdleSource source(bus.connection());
        QCOMPARE(settledReading(source), std::optional<double>(3.0));

        // Both services now fail: Mutter raises, the screensaver lacks the method.
        QDBusMessage broken = QDBusMessage::createMethodCall(
            QStringLiteral("org.gnome.Mutter.IdleMonitor"),
            QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"), QStringLiteral("org.freedesktop.DBus.Mock"),
            QStringLiteral("AddMethod"));
        broken.setArguments(
            {QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("GetIdletime"), QString(),
             QStringLiteral("t"),
             QStringLiteral("raise dbus.exceptions.DBusException('broken', name='org.example.Broken')")});
        QCOMPARE(bus.connection().call(broken).type(), QDBusMessage::ReplyMessage);

        test::LogRecorder log("org.pondra.Pondra.App");
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(source.latestIdleSeconds(), std::optional<double>(3.0));
            QTest::qWait(20);
        }
        QCOMPARE(unavailableLines(log), 1);
    }

    void noServiceGivesNoReading()
    {
        test::PrivateBus bus;
        QVERIFY(bus.start());
        test::LogRecorder log("org.pondra.Pondra.App");
        DBusIdleSource source(bus.connection());
        for (int i = 0; i < 10; ++i) {
            QVERIFY(!source.latestIdleSeconds());
            QTest::qWait(20);
        }
        QCOMPARE(unavailableLines(log), 1);
    }

    void waylandIsRecognised_data()
    {
        QTest::addColumn<QString>("sessionType");
        QTest::addColumn<QString>("waylandDisplay");
        QTest::addColumn<bool>("wayland");
        QTest::newRow("x11") << "x11"
                             << "" << false;
        QTest::newRow("wayland session type") << "wayland"
                                              << "" << true;
        QTest::newRow("wayland display only") << ""
                                              << "wayland-0" << true;
        QTest::newRow("nothing set") << ""
                                     << "" << false;
    }
    void waylandIsRecognised()
    {
        QFETCH(QString, sessionType);
        QFETCH(QString, waylandDisplay);
        QFETCH(bool, wayland);
        QProcessEnvironment env;
        if (!sessionType.isEmpty())
            env.insert(QStringLiteral("XDG_SESSION_TYPE"), sessionType);
        if (!waylandDisplay.isEmpty())
            env.insert(QStringLiteral("WAYLAND_DISPLAY"), waylandDisplay);
        QCOMPARE(isWaylandSession(env), wayland);
    }
};

QTEST_GUILESS_MAIN(TestDBusIdle)
#include "tst_dbusidle.moc"
