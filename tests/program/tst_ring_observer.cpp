// The incoming-ring observer drives the glow and the bubble in the right
// order, one turn of the main loop after each value, repeats included.
#include "program/IncomingRingObserver.h"

#include "RecordingRingWindows.h"

#include <QtTest>

using namespace pondra;

namespace {

/// Shaped like a window and like the cursor overlay, for the adapters.
struct FakeWindow
{
    QStringList* calls;
    void show() { *calls << QStringLiteral("show"); }
    void hide() { *calls << QStringLiteral("hide"); }
    void raise() { *calls << QStringLiteral("raise"); }
    void show(const QString& name, const std::optional<QImage>&) { *calls << QStringLiteral("show ") + name; }
};

IncomingRing ring(const QString& from, bool withPhoto = false)
{
    QImage photo(8, 8, QImage::Format_RGB32);
    photo.fill(Qt::red);
    return {QStringLiteral("ID-") + from, from, withPhoto ? std::optional<QImage>(photo) : std::nullopt};
}

} // namespace

class TestRingObserver final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void handlesEveryValueOnTheNextTurn();
    void skipsAbsentWindows_data();
    void skipsAbsentWindows();
    void adaptersForwardToTheWindows();
};

void TestRingObserver::handlesEveryValueOnTheNextTurn()
{
    VirtualScheduler scheduler;
    Published<std::optional<IncomingRing>> incoming;
    QStringList calls;
    test::RecordingGlow glow(calls);
    test::RecordingBubble bubble(calls);
    IncomingRingObserver observer(incoming, scheduler, &glow, &bubble);

    // The first value (no ring) is handled too, on the next turn.
    QVERIFY(calls.isEmpty());
    scheduler.runPending();
    QCOMPARE(calls, QStringList({"glow hidden", "bubble hidden"}));

    calls.clear();
    incoming.set(ring(QStringLiteral("Bo"), true));
    QVERIFY(calls.isEmpty());
    scheduler.runPending();
    QCOMPARE(calls, QStringList({"glow shown", "bubble shown for Bo with photo", "glow raised"}));

    // Repeats are not dropped, and values that come in one turn each get their turn.
    calls.clear();
    incoming.set(ring(QStringLiteral("Bo"), true));
    incoming.set(std::nullopt);
    incoming.set(std::nullopt);
    scheduler.runPending();
    QCOMPARE(calls, QStringList({"glow shown", "bubble shown for Bo with photo", "glow raised", "glow hidden",
                                 "bubble hidden", "glow hidden", "bubble hidden"}));
}

void TestRingObserver::skipsAbsentWindows_data()
{
    QTest::addColumn<bool>("withGlow");
    QTest::addColumn<bool>("withBubble");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no glow (no screen, or no compositing platform)")
        << false << true << QStringList({"bubble shown for Cy", "bubble hidden"});
    QTest::newRow("no bubble") << true << false << QStringList({"glow shown", "glow raised", "glow hidden"});
    QTest::newRow("neither") << false << false << QStringList();
}

void TestRingObserver::skipsAbsentWindows()
{
    QFETCH(bool, withGlow);
    QFETCH(bool, withBubble);
    QFETCH(QStringList, expected);

    VirtualScheduler scheduler;
    Published<std::optional<IncomingRing>> incoming(ring(QStringLiteral("Cy")));
    QStringList calls;
    test::RecordingGlow glow(calls);
    test::RecordingBubble bubble(calls);
    IncomingRingObserver observer(incoming, scheduler, withGlow ? &glow : nullptr,
                                  withBubble ? &bubble : nullptr);
    incoming.set(std::nullopt);
    scheduler.runPending();
    QCOMPARE(calls, expected);
}

void TestRingObserver::adaptersForwardToTheWindows()
{
    QStringList calls;
    WindowGlow<FakeWindow> glow(std::make_unique<FakeWindow>(FakeWindow{&calls}));
    OverlayBubble<FakeWindow> bubble(std::make_unique<FakeWindow>(FakeWindow{&calls}));
    glow.showGlow();
    bubble.show(QStringLiteral("Di"), std::nullopt);
    glow.raiseGlow();
    glow.hideGlow();
    bubble.hide();
    QCOMPARE(calls, QStringList({"show", "show Di", "raise", "hide", "hide"}));
}

QTEST_GUILESS_MAIN(TestRingObserver)
#include "tst_ring_observer.moc"
