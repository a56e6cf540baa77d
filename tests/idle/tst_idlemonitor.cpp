#include "IdleMonitorRig.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <limits>

using namespace pondra;
using namespace std::chrono_literals;

class TestIdleMonitor : public QObject
{
    Q_OBJECT
private:
    using Setup = test::IdleMonitorRig;

private Q_SLOTS:
    void firstReadingComesOneSecondAfterConstruction()
    {
        Setup s;
        s.source->reading = 75.0;
        QCOMPARE(s.monitor->idleSeconds.get(), 0.0);
        QCOMPARE(s.monitor->isIdle.get(), false);
        QCOMPARE(s.monitor->formattedIdleTime(), QStringLiteral("0:00"));
        QCOMPARE(s.monitor->statusText(), QStringLiteral("Active"));
        s.scheduler.advance(999ms);
        QCOMPARE(s.source->readings, 0);
        s.scheduler.advance(1ms);
        QCOMPARE(s.source->readings, 1);
        QCOMPARE(s.monitor->idleSeconds.get(), 75.0);
        QCOMPARE(s.monitor->isIdle.get(), true);
        s.scheduler.advance(3s);
        QCOMPARE(s.source->readings, 4);
    }

    void readingGivesTextsAndFlag_data()
    {
        QTest::addColumn<double>("reading");
        QTest::addColumn<double>("published");
        QTest::addColumn<bool>("idle");
        QTest::addColumn<QString>("clock");
        const double nan = std::numeric_limits<double>::quiet_NaN();
        const double inf = std::numeric_limits<double>::infinity();
        // Rows with a bad reading keep the previous one (12.0, set first).
        QTest::newRow("zero") << 0.0 << 0.0 << false << "0:00";
        QTest::newRow("59.9 s") << 59.9 << 59.9 << false << "0:59";
        QTest::newRow("60 s reaches the threshold") << 60.0 << 60.0 << true << "1:00";
        QTest::newRow("3599.5 s") << 3599.5 << 3599.5 << true << "59:59";
        QTest::newRow("one hour") << 3600.0 << 3600.0 << true << "1:00:00";
        QTest::newRow("3725 s") << 3725.0 << 3725.0 << true << "1:02:05";
        QTest::newRow("hours not wrapped at 24")
            << 25 * 3600.0 + 61 << 25 * 3600.0 + 61 << true << "25:01:01";
        QTest::newRow("beyond any clock is bounded") << 1e300 << 1e300 << true << "2501999792983:36:32";
        QTest::newRow("not a number keeps the previous") << nan << 12.0 << false << "0:12";
        QTest::newRow("infinity keeps the previous") << inf << 12.0 << false << "0:12";
        QTest::newRow("negative keeps the previous") << -5.0 << 12.0 << false << "0:12";
    }

    void readingGivesTextsAndFlag()
    {
        QFETCH(double, reading);
        QFETCH(double, published);
        QFETCH(bool, idle);
        QFETCH(QString, clock);
        Setup s;
        s.source->reading = 12.0;
        s.scheduler.advance(1s);
        s.source->reading = reading;
        s.scheduler.advance(1s);
        QCOMPARE(s.monitor->idleSeconds.get(), published);
        QCOMPARE(s.monitor->isIdle.get(), idle);
        QCOMPARE(s.monitor->formattedIdleTime(), clock);
        QCOMPARE(s.monitor->statusText(), idle ? QStringLiteral("Idle") : QStringLiteral("Active"));
    }

    void everyTickAssignsBothValuesAlsoWhenUnchanged()
    {
        Setup s;
        s.source->reading = 5.0;
        QSignalSpy changed(s.monitor.get(), &IdleMonitor::changed);
        QList<double> seconds;
        QList<bool> flags;
        QObject context;
        auto a = s.monitor->idleSeconds.subscribe(&context, [&](const double& v) { seconds << v; });
        auto b = s.monitor->isIdle.subscribe(&context, [&](const bool& v) {
            // The flag follows the reading of the same tick.
            QCOMPARE(v, s.monitor->idleSeconds.get() >= 60.0);
            flags << v;
        });
        s.scheduler.advance(3s);
        QCOMPARE(seconds, (QList<double>{0.0, 5.0, 5.0, 5.0}));
        QCOMPARE(flags, (QList<bool>{false, false, false, false}));
        QCOMPARE(changed.count(), 6);
    }

    void noReadingRepeatsThePreviousValue()
    {
        Setup s;
        int deliveries = 0;
        QObject context;
        auto sub = s.monitor->idleSeconds.subscribe(&context, [&](const double&) { ++deliveries; });
        s.scheduler.advance(2s); // the source has nothing yet
        QCOMPARE(deliveries, 3);
        QCOMPARE(s.monitor->idleSeconds.get(), 0.0);
    }

    void thresholdIsSettable()
    {
        Setup s;
        s.monitor->idleThreshold = 10;
        s.source->reading = 10.0;
        s.scheduler.advance(1s);
        QVERIFY(s.monitor->isIdle.get());
    }

    void stoppingAndRestartingKeepsOneTimer()
    {
        Setup s;
        s.monitor->stopMonitoring();
        s.scheduler.advance(5s);
        QCOMPARE(s.source->readings, 0);
        s.monitor->startMonitoring();
        s.monitor->startMonitoring();
        s.scheduler.advance(3s);
        QCOMPARE(s.source->readings, 3);
    }

    void releasedMonitorLeavesNothingScheduled()
    {
        Setup s;
        s.scheduler.advance(1s);
        s.monitor.reset();
        s.scheduler.advance(5s);
        QCOMPARE(s.scheduler.pendingCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestIdleMonitor)
#include "tst_idlemonitor.moc"
