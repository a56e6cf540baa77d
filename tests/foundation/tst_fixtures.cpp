#include "TestProcesses.h"

#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QTest>

using namespace pondra::test;

// The private-bus fixtures that the event, notification and now-playing tests rely on.
class TestFixtures : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void privateBusServesADbusmockTemplate()
    {
        PrivateBus bus;
        QVERIFY(bus.start());
        QVERIFY(bus.address().startsWith(QStringLiteral("unix:")));
        DBusMockProcess mock;
        QVERIFY(mock.start(bus, false, QStringLiteral("notification_daemon")));
        QVERIFY(bus.waitForService(QStringLiteral("org.freedesktop.Notifications")));
        QDBusInterface notifications(QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
                                     QStringLiteral("org.freedesktop.Notifications"), bus.connection());
        const QDBusReply<QStringList> caps = notifications.call(QStringLiteral("GetCapabilities"));
        QVERIFY2(caps.isValid(), qPrintable(caps.error().message()));
    }
};

QTEST_GUILESS_MAIN(TestFixtures)
#include "tst_fixtures.moc"
