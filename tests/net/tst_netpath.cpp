// The network-path rule of the Linux path monitor.
#include "platform/netpath/LinuxPathMonitor.h"
#include "records/ServerAddresses.h"

#include "LogRecorder.h"

#include <QtTest>

using namespace pondra;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(QList<pondra::InterfaceFact>)

class TestNetPath final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void rule_data()
    {
        QTest::addColumn<QList<InterfaceFact>>("interfaces");
        QTest::addColumn<bool>("serverOnLoopback");
        QTest::addColumn<bool>("satisfied");
        QTest::addColumn<QStringList>("names");
        // name, up, running, loopback, address
        const InterfaceFact lo{QStringLiteral("lo"), true, true, true, true};
        const InterfaceFact eth{QStringLiteral("eth0"), true, true, false, true};
        const InterfaceFact wlanDown{QStringLiteral("wlan0"), false, false, false, true};
        const InterfaceFact noAddress{QStringLiteral("eth1"), true, true, false, false};
        const InterfaceFact noCarrier{QStringLiteral("eth2"), true, false, false, true};
        QTest::newRow("ethernet") << QList{lo, eth} << false << true << QStringList{"eth0"};
        QTest::newRow("only loopback") << QList{lo} << false << false << QStringList{};
        QTest::newRow("interface down") << QList{lo, wlanDown} << false << false << QStringList{};
        QTest::newRow("up without address") << QList{lo, noAddress} << false << false << QStringList{};
        QTest::newRow("up, not running (cable out)")
            << QList{lo, noCarrier} << false << false << QStringList{};
        QTest::newRow("only loopback, local server") << QList{lo} << true << true << QStringList{"lo"};
        QTest::newRow("nothing, local server") << QList<InterfaceFact>{} << true << true << QStringList{};
        QTest::newRow("two") << QList{eth, lo, noCarrier,
                                      InterfaceFact{QStringLiteral("wlan0"), true, true, false, true}}
                             << false << true << QStringList{"eth0", "wlan0"};
    }

    void rule()
    {
        QFETCH(QList<InterfaceFact>, interfaces);
        QFETCH(bool, serverOnLoopback);
        QFETCH(bool, satisfied);
        QFETCH(QStringList, names);
        const NetworkPath path = LinuxPathMonitor::evaluate(interfaces, serverOnLoopback);
        QCOMPARE(path.satisfied, satisfied);
        QCOMPARE(path.interfaceNames, names);
    }

    void loopbackHosts_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("loopback");
        QTest::newRow("localhost") << "http://localhost:8787/pondra/update" << true;
        QTest::newRow("127.0.0.1") << "http://127.0.0.1:1/x" << true;
        QTest::newRow("127.5.0.1") << "http://127.5.0.1/x" << true;
        QTest::newRow("::1") << "http://[::1]:8787/x" << true;
        QTest::newRow("remote") << "https://pondra.example.org/x" << false;
        QTest::newRow("localhost lookalike") << "https://localhost.example.org/x" << false;
    }

    void loopbackHosts()
    {
        QFETCH(QString, url);
        QFETCH(bool, loopback);
        QCOMPARE(LinuxPathMonitor::isLoopbackHost(QUrl(url)), loopback);
    }

    void refusedServerAddressIsLoggedOnceUntilItChanges()
    {
        // The monitor asks where the server is at every look; a base that
        // cannot be used is said once, not every 10 s.
        VirtualScheduler scheduler;
        QString base;
        ServerAddresses addresses([&] { return base; }, [] { return QString(); });
        LinuxPathMonitor monitor([&] { return addresses.serverURL(); }, scheduler);
        test::LogRecorder log;
        int reports = 0;
        monitor.start([&](const NetworkPath&) { ++reports; });
        QTRY_COMPARE(reports, 1);
        scheduler.advance(60s);
        QCOMPARE(log.errors(),
                 QStringList{QStringLiteral("Refusing invalid server address: https:///pondra/update")});

        base = QStringLiteral("bad host:x");
        scheduler.advance(60s);
        base = QStringLiteral("localhost:8787");
        scheduler.advance(60s);
        base = QStringLiteral("bad host:x");
        scheduler.advance(60s);
        QCOMPARE(log.errors(),
                 (QStringList{
                     QStringLiteral("Refusing invalid server address: https:///pondra/update"),
                     QStringLiteral("Refusing invalid server address: https://bad host:x/pondra/update"),
                     QStringLiteral("Refusing invalid server address: https://bad host:x/pondra/update")}));
    }

    void reportsOnceAtStart()
    {
        LinuxPathMonitor monitor([] { return std::optional(QUrl(QStringLiteral("http://127.0.0.1:8787"))); });
        QList<NetworkPath> reports;
        monitor.start([&](const NetworkPath& path) { reports.append(path); });
        QCOMPARE(reports.size(), 0); // never inside start()
        QTRY_COMPARE(reports.size(), 1);
        QVERIFY(reports.first().satisfied);
        QTest::qWait(100);
        QCOMPARE(reports.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestNetPath)
#include "tst_netpath.moc"
