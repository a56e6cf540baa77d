#include "platform/core/Scheduler.h"
#include "platform/session/FakeSessionEvents.h"
#include "platform/session/SessionReportMerger.h"
#include "sensing/SystemEventObserver.h"

#include <QTest>

using namespace pondra;
using namespace std::chrono_literals;

// The observer on fake session events and virtual time, and the rule that
// merges the reports of several services.
class TestSystemEvents : public QObject
{
    Q_OBJECT
private:
    struct Setup
    {
        VirtualScheduler scheduler;
        FakeSessionEvents* events = nullptr;
        std::unique_ptr<SystemEventObserver> observer;
        QStringList log;
        QObject context;
        Subscription flag;

        Setup()
        {
            auto fake = std::make_unique<FakeSessionEvents>();
            events = fake.get();
            observer = std::make_unique<SystemEventObserver>([this] { log << QStringLiteral("lock action"); },
                                                             [this] { log << QStringLiteral("wake action"); },
                                                             std::move(fake), scheduler);
            flag = observer->isScreenLocked.subscribe(&context, [this](const bool& locked) {
                log << (locked ? QStringLiteral("locked") : QStringLiteral("unlocked"));
            });
            log.clear();
        }
    };

private Q_SLOTS:
    void lockSetsTheFlagThenCallsTheActionOnTheNextTurn()
    {
        Setup s;
        QCOMPARE(s.observer->isScreenLocked.get(), false);
        s.events->lock();
        QVERIFY(s.log.isEmpty()); // never inside the delivery
        s.scheduler.runPending();
        QCOMPARE(s.log, (QStringList{"locked", "lock action"}));
        s.events->unlock();
        s.scheduler.runPending();
        QCOMPARE(s.log, (QStringList{"locked", "lock action", "unlocked"}));
        QCOMPARE(s.observer->isScreenLocked.get(), false);
    }

    void everyReportCountsAndPublishesAgain()
    {
        Setup s;
        s.events->lock();
        s.events->lock();
        s.scheduler.runPending();
        s.events->unlock();
        s.events->unlock();
        s.scheduler.runPending();
        QCOMPARE(s.log,
                 (QStringList{"locked", "lock action", "locked", "lock action", "unlocked", "unlocked"}));
    }

    void wakeCallsItsActionAndLeavesTheFlag()
    {
        Setup s;
        s.events->lock();
        s.scheduler.runPending();
        s.log.clear();
        s.events->wake();
        QVERIFY(s.log.isEmpty());
        s.scheduler.runPending();
        QCOMPARE(s.log, QStringList{"wake action"});
        QCOMPARE(s.observer->isScreenLocked.get(), true);
    }

    void releasedObserverCallsNothing()
    {
        Setup s;
        s.events->lock(); // reported, not yet handled
        s.events->wake();
        s.observer.reset();
        s.scheduler.runPending();
        QVERIFY(s.log.isEmpty());
        QCOMPARE(s.scheduler.pendingCount(), 0);
    }

    void reportsMerge_data()
    {
        QTest::addColumn<QString>("reports"); // kind:reporter@ms, comma-separated
        QTest::addColumn<QString>("counted"); // 1 per counted report, 0 per merged one
        QTest::newRow("hint and screensaver at once") << "L:hint@0,L:fd@200"
                                                      << "10";
        QTest::newRow("three services, one lock") << "L:hint@0,L:fd@100,L:signal@900"
                                                  << "100";
        QTest::newRow("second service a second later") << "L:hint@0,L:fd@1000"
                                                       << "11";
        QTest::newRow("same service twice") << "L:fd@0,L:fd@10"
                                            << "11";
        QTest::newRow("same service again after a merge") << "L:hint@0,L:fd@10,L:hint@20,L:fd@30"
                                                          << "1010";
        QTest::newRow("lock then unlock") << "L:hint@0,U:fd@10"
                                          << "11";
        QTest::newRow("unlock seen twice") << "U:hint@0,U:gnome@50"
                                           << "10";
        QTest::newRow("window counts from the first report") << "L:hint@0,L:fd@600,L:gnome@1100"
                                                             << "101";
    }
    void reportsMerge()
    {
        QFETCH(QString, reports);
        QFETCH(QString, counted);
        const QMap<QString, LockReporter> reporters{{"hint", LockReporter::LockedHint},
                                                    {"signal", LockReporter::SessionSignal},
                                                    {"fd", LockReporter::FreedesktopScreenSaver},
                                                    {"gnome", LockReporter::GnomeScreenSaver}};
        SessionReportMerger merger;
        QString result;
        for (const QString& r : reports.split(QLatin1Char(','))) {
            const QString kind = r.section(QLatin1Char(':'), 0, 0);
            const QString reporter = r.section(QLatin1Char(':'), 1).section(QLatin1Char('@'), 0, 0);
            const qint64 ms = r.section(QLatin1Char('@'), 1).toLongLong();
            const auto k = kind == QLatin1String("L") ? SessionReportMerger::Kind::Lock
                                                      : SessionReportMerger::Kind::Unlock;
            result += merger.counts(k, reporters.value(reporter), ms) ? QLatin1Char('1') : QLatin1Char('0');
        }
        QCOMPARE(result, counted);
    }
};

QTEST_GUILESS_MAIN(TestSystemEvents)
#include "tst_systemevents.moc"
