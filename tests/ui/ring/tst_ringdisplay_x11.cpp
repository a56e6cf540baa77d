#include "platform/compositing/X11CompositingQuery.h"
#include "ui/kit/FrameTicker.h"
#include "ui/kit/WindowFinder.h"
#include "ui/ring/CursorRingWindow.h"
#include "ui/ring/PeripheralGlowView.h"

#include "TestProcesses.h"
#include "ViewTesting.h"
#include "X11Probe.h"

#include <QMouseEvent>
#include <QProcess>
#include <QScreen>

#include <memory>

using namespace pondra;

// The real windows on a private Xvfb (1280 × 1024), with the real pointer,
// screens and compositing query; the overlay's ticks and delays on virtual
// time, advanced by the test.
namespace {

/// A plain window that notes the mouse presses it receives.
class Beneath final : public QWidget
{
public:
    Beneath()
    {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(0xe8, 0xec, 0xf0));
        setPalette(p);
        setGeometry(0, 0, 1280, 1024);
    }
    QList<QPoint> presses;

protected:
    void mousePressEvent(QMouseEvent* event) override { presses.append(event->globalPosition().toPoint()); }
};

bool xdotool(const QStringList& arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

QString display()
{
    return qEnvironmentVariable("DISPLAY");
}

/// What the program does when a ring comes: the glow, then the bubble, then
/// the glow raised again so that it stays on top.
void showRing(PeripheralGlowWindow& glow, CursorRingWindow& overlay)
{
    glow.show();
    overlay.show(QStringLiteral("Ana"), std::nullopt);
    glow.raise();
}

void hideRing(PeripheralGlowWindow& glow, CursorRingWindow& overlay)
{
    glow.hide();
    overlay.hide();
}
} // namespace

class TestRingDisplayX11 final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void withoutACompositorTheGlowStaysHiddenAndTheBubbleIsOpaque()
    {
        test::X11Probe probe(display());
        QVERIFY(probe.isConnected());
        Beneath beneath;
        beneath.show();
        VirtualScheduler scheduler;
        PeripheralGlowWindow glow;
        CursorRingWindow overlay(scheduler);
        QVERIFY(xdotool({QStringLiteral("mousemove"), QStringLiteral("400"), QStringLiteral("300")}));

        QTest::ignoreMessage(QtInfoMsg, "No compositing manager: the screen-edge glow is not shown");
        showRing(glow, overlay);
        const quint32 bubble = quint32(overlay.window()->winId());
        QTRY_VERIFY(probe.facts(bubble).viewable);
        const test::X11Probe::WindowFacts facts = probe.facts(bubble);
        QVERIFY(facts.overrideRedirect);
        QCOMPARE(facts.role, WindowIdentifiers::cursorRing);
        QCOMPARE(facts.depth, 24); // opaque, cut to its rounded shape
        QCOMPARE(facts.geometry, QRect(418, 266, 240, 68));
        QTest::qWait(50); // painted
        const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0, 300, 200, 480, 200);
        QVERIFY(screen.save(test::galleryFolder() + QStringLiteral("/ring-display-xvfb-no-compositor.png")));

        QCoreApplication::processEvents();
        QVERIFY(!glow.isVisible());
        for (quint32 window : probe.stacking()) {
            const test::X11Probe::WindowFacts other = probe.facts(window);
            QVERIFY(!(other.viewable && other.role == WindowIdentifiers::glowWindow));
        }

        hideRing(glow, overlay);
        scheduler.advance(milliseconds(200));
        QTRY_VERIFY(!probe.facts(bubble).viewable);
    }

    void withACompositorTheGlowLetsClicksThroughAndTheBubbleFollows()
    {
        test::ManagedProcess compositor;
        QVERIFY(compositor.start(QStringLiteral("xcompmgr"), {}));
        X11CompositingQuery query;
        QTRY_VERIFY_WITH_TIMEOUT(query.isCompositing(), 10'000);

        test::X11Probe probe(display());
        Beneath beneath;
        beneath.show();
        const quint32 below = quint32(beneath.winId());
        QTRY_VERIFY(probe.facts(below).viewable);

        VirtualScheduler scheduler;
        PeripheralGlowWindow glow;
        CursorRingWindow overlay(scheduler);
        QVERIFY(xdotool({QStringLiteral("mousemove"), QStringLiteral("400"), QStringLiteral("300")}));
        showRing(glow, overlay);
        const quint32 strip = quint32(glow.window()->winId());
        const quint32 bubble = quint32(overlay.window()->winId());
        QTRY_VERIFY(probe.facts(strip).viewable && probe.facts(bubble).viewable);

        const test::X11Probe::WindowFacts stripFacts = probe.facts(strip);
        QVERIFY(stripFacts.overrideRedirect);
        QCOMPARE(stripFacts.geometry, QRect(1250, 0, 30, 1024));
        QCOMPARE(stripFacts.role, WindowIdentifiers::glowWindow);
        QCOMPARE(stripFacts.depth, 32);
        QCOMPARE(probe.facts(bubble).depth, 32);
        // The glow was raised again after the bubble: it stays on top.
        const auto stackedInOrder = [&] {
            const QList<quint32> order = probe.stacking();
            return order.indexOf(below) < order.indexOf(bubble) &&
                   order.indexOf(bubble) < order.indexOf(strip);
        };
        QTRY_VERIFY(stackedInOrder());

        // A click on the strip reaches the window beneath it.
        QVERIFY(xdotool({QStringLiteral("mousemove"), QStringLiteral("1265"), QStringLiteral("500"),
                         QStringLiteral("click"), QStringLiteral("1")}));
        QTRY_COMPARE(beneath.presses, QList<QPoint>{QPoint(1265, 500)});

        // The bubble follows the pointer, flipped to its left near the edge.
        const auto bubbleAt = [&](const QPoint& origin) {
            scheduler.advance(FrameTicker::period);
            return probe.facts(bubble).geometry.topLeft() == origin;
        };
        QTRY_VERIFY(bubbleAt(QPoint(1265 - 258, 466)));
        QVERIFY(xdotool({QStringLiteral("mousemove"), QStringLiteral("200"), QStringLiteral("700")}));
        QTRY_VERIFY(bubbleAt(QPoint(218, 666)));

        const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
        QVERIFY(screen.save(test::galleryFolder() + QStringLiteral("/ring-display-xvfb.png")));

        hideRing(glow, overlay);
        QTRY_VERIFY(!probe.facts(strip).viewable);
        scheduler.advance(milliseconds(200));
        QTRY_VERIFY(!probe.facts(bubble).viewable);
    }
};

PONDRA_XVFB_VIEW_TEST_MAIN(TestRingDisplayX11)
#include "tst_ringdisplay_x11.moc"
