#include "platform/core/Published.h"
#include "platform/core/Scheduler.h"
#include "platform/core/Uuid.h"

#include <QRegularExpression>
#include <QTest>

#include <array>

using namespace pondra;
using namespace std::chrono_literals;

template <typename P>
concept Assignable = requires(P& p)
{
    p.set(1);
};

class TestPrimitives : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void publishedStoresBeforeNotifyingAndRepeatsEqualValues()
    {
        Published<int> value(1);
        QList<QString> events;
        value.setChangeHook([&] { events << QStringLiteral("hook:%1").arg(value.get()); });
        QObject context;
        auto sub = value.subscribe(&context, [&](const int& v) {
            QCOMPARE(value.get(), v); // stored before delivery
            events << QStringLiteral("sub:%1").arg(v);
        });
        value.set(2);
        value.set(2);
        QCOMPARE(events, (QList<QString>{"sub:1", "hook:2", "sub:2", "hook:2", "sub:2"}));
    }

    void subscriptionEndsWithHandleOrContext()
    {
        Published<int> value;
        int byHandle = 0, byContext = 0;
        auto handle = value.subscribe(nullptr, [&](const int&) { ++byHandle; });
        auto* context = new QObject;
        auto other = value.subscribe(context, [&](const int&) { ++byContext; });
        value.set(1);
        handle.release();
        delete context;
        value.set(2);
        QCOMPARE(byHandle, 2);
        QCOMPARE(byContext, 2);
        QCOMPARE(value.subscriberCount(), std::size_t(0));
    }

    void deliveryToleratesChangesDuringDelivery()
    {
        Published<int> value;
        QObject context;
        QList<int> second;
        Subscription late;
        Subscription removed;
        auto first = value.subscribe(&context, [&](const int& v) {
            if (v == 1) {
                removed.release();
                late = value.subscribe(&context, [&](const int& x) { second << x; });
            }
        });
        removed = value.subscribe(&context, [&](const int& v) { QVERIFY(v == 0); });
        value.set(1);
        value.set(2);
        QCOMPARE(second, (QList<int>{1, 2}));
    }

    // A subscriber that assigns again while a delivery runs: the newer value
    // reaches everyone, and the older delivery must not go on afterwards.
    void nestedAssignmentLeavesEveryoneOnTheNewest_data()
    {
        QTest::addColumn<int>("assigner");
        QTest::newRow("first") << 0;
        QTest::newRow("middle") << 1;
        QTest::newRow("last") << 2;
    }
    void nestedAssignmentLeavesEveryoneOnTheNewest()
    {
        QFETCH(int, assigner);
        Published<int> value(0);
        QObject context;
        std::array<QList<int>, 3> seen;
        std::vector<Subscription> subs;
        for (int i = 0; i < 3; ++i) {
            subs.push_back(value.subscribe(&context, [&, i](const int& v) {
                seen[i] << v;
                if (i == assigner && v == 1)
                    value.set(2); // e.g. a ring accepted as soon as it shows
            }));
        }
        value.set(1);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(seen[i].last(), 2);
            QVERIFY2(seen[i].count(1) <= 1, qPrintable(QString::number(i)));
            // Whoever comes after the assigner never sees the overtaken value.
            if (i > assigner)
                QCOMPARE(seen[i], (QList<int>{0, 2}));
        }
    }

    void onlyTheOwnerAssigns()
    {
        struct Owner;
        static_assert(Assignable<Published<int>>);
        static_assert(!Assignable<ReadOnly<int>>);
        static_assert(!Assignable<Owned<int, Owner>>);
    }

    void helpers()
    {
        Published<int> value(5);
        QObject context;
        VirtualScheduler scheduler;
        QList<int> distinct, skipped, later;
        auto a = value.subscribe(&context, dropRepeats<int>([&](const int& v) { distinct << v; }));
        auto b = value.subscribe(&context, skipFirst<int>([&](const int& v) { skipped << v; }));
        auto c = value.subscribe(&context,
                                 onNextTurn<int>(scheduler, &context, [&](const int& v) { later << v; }));
        value.set(5);
        value.set(6);
        value.set(6);
        QCOMPARE(distinct, (QList<int>{5, 6}));
        QCOMPARE(skipped, (QList<int>{5, 6, 6}));
        QVERIFY(later.isEmpty());
        scheduler.runPending();
        QCOMPARE(later, (QList<int>{5, 5, 6, 6}));
    }

    void virtualTimeRunsStepsInOrder()
    {
        VirtualScheduler scheduler;
        QObject context;
        QList<QString> log;
        const qint64 start = scheduler.monotonicMs();
        const QDateTime wallStart = scheduler.now();
        auto ping = scheduler.every(
            30s, &context, [&] { log << QStringLiteral("ping@%1").arg(scheduler.monotonicMs() - start); });
        scheduler.after(45s, &context, [&] {
            log << QStringLiteral("once@%1").arg(scheduler.monotonicMs() - start);
            scheduler.after(0ms, &context,
                            [&] { log << QStringLiteral("next@%1").arg(scheduler.monotonicMs() - start); });
        });
        QElapsedTimer wall;
        wall.start();
        scheduler.advance(90s);
        QVERIFY(wall.elapsed() < 1000);
        QCOMPARE(log, (QList<QString>{"ping@30000", "once@45000", "next@45000", "ping@60000", "ping@90000"}));
        QCOMPARE(scheduler.now(), wallStart.addSecs(90));
        ping.cancel();
        scheduler.advance(60s);
        QCOMPARE(log.size(), 5);
    }

    void cancelledOrOrphanedStepsNeverRun()
    {
        VirtualScheduler scheduler;
        bool ran = false;
        auto* context = new QObject;
        auto handle = scheduler.after(1s, context, [&] { ran = true; });
        scheduler.after(1s, context, [&] { ran = true; });
        handle.cancel();
        delete context;
        QCOMPARE(scheduler.pendingCount(), 0);
        scheduler.advance(2s);
        QVERIFY(!ran);
        QVERIFY(!handle.isActive());
    }

    void realSchedulerRunsAndCancels()
    {
        QObject context;
        int fired = 0;
        auto& scheduler = RealScheduler::instance();
        auto cancelled = scheduler.after(10ms, &context, [&] { fired += 100; });
        scheduler.after(10ms, &context, [&] { ++fired; });
        cancelled.cancel();
        auto repeating = scheduler.every(5ms, &context, [&] { ++fired; });
        QTRY_VERIFY(fired >= 3);
        repeating.cancel();
        const int seen = fired;
        QTest::qWait(30);
        QCOMPARE(fired, seen);
        QVERIFY(fired < 100);
    }

    void uuidTextIsUpperCase()
    {
        const QString id = newUuidText();
        QVERIFY(QRegularExpression(
                    QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                    .match(id)
                    .hasMatch());
        QVERIFY(id != newUuidText());
    }
};

QTEST_GUILESS_MAIN(TestPrimitives)
#include "tst_primitives.moc"
