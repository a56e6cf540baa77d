// The incoming-ring observer drives the glow and the bubble in the right
// order, one turn of the main loop after each value, repeats included.
#include "program/IncomingRingObserver.h"

#include "RecordingRingWindows.h"

#include <QWidget>
#include <QtTest>

using namespace pondra;

namespace {

/// Shaped like the cursor overlay: what it shows, while it shows it.
struct Overlay
{
    std::optional<std::pair<QString, std::optional<QImage>>> shown;
    void show(const QString& name, const std::optional<QImage>& photo) { shown.emplace(name, photo); }
    void hide() { shown.reset(); }
};

QImage redPhoto()
{
    QImage photo(8, 8, QImage::Format_RGB32);
    photo.fill(Qt::red);
    return photo;
}

IncomingRing ring(const QString& from, bool withPhoto = false)
{
    return {QStringLiteral("ID-") + from, from, withPhoto ? std::optional<QImage>(redPhoto()) : std::nullopt};
}

} // namespace

class TestRingObserver final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void handlesEveryValueOnTheNextTurn();
    void skipsAbsentWindows_data();
    void skipsAbsentWindows();
    void ringShowsAndHidesTheProgramsKindOfWindows();
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

void TestRingObserver::ringShowsAndHidesTheProgramsKindOfWindows()
{
    // Through the adapters the program builds its glow and bubble with: a
    // widget for the strip, an overlay that is told whom to show.
    VirtualScheduler scheduler;
    Published<std::optional<IncomingRing>> incoming;
    WindowGlow<QWidget> glow(std::make_unique<QWidget>());
    OverlayBubble<Overlay> bubble(std::make_unique<Overlay>());
    IncomingRingObserver observer(incoming, scheduler, &glow, &bubble);
    const QWidget& strip = glow.window();
    const Overlay& overlay = bubble.overlay();
    scheduler.runPending();
    QVERIFY(!strip.isVisible());
    QVERIFY(!overlay.shown);

    incoming.set(ring(QStringLiteral("Di"), true));
    scheduler.runPending();
    QVERIFY(strip.isVisible());
    QVERIFY(overlay.shown);
    QCOMPARE(overlay.shown->first, QStringLiteral("Di"));
    QCOMPARE(overlay.shown->second, std::optional<QImage>(redPhoto()));

    incoming.set(ring(QStringLiteral("Ed")));
    scheduler.runPending();
    QVERIFY(strip.isVisible());
    QCOMPARE(overlay.shown->first, QStringLiteral("Ed"));
    QCOMPARE(overlay.shown->second, std::optional<QImage>());

    incoming.set(std::nullopt);
    scheduler.runPending();
    QVERIFY(!strip.isVisible());
    QVERIFY(!overlay.shown);
}

QTEST_MAIN(TestRingObserver)
#include "tst_ring_observer.moc"
