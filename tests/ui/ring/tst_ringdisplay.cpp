#include "platform/compositing/FakeCompositingQuery.h"
#include "platform/pointer/FakePointerAndScreens.h"
#include "ui/kit/Palette.h"
#include "ui/kit/TextStyles.h"
#include "ui/kit/WindowFinder.h"
#include "ui/ring/CursorRingView.h"
#include "ui/ring/CursorRingWindow.h"
#include "ui/ring/PeripheralGlowView.h"
#include "ui/ring/RingDisplay.h"

#include "TestEnvironment.h"
#include "ViewTesting.h"

#include <QPainter>
#include <QWindow>

#include <memory>

using namespace pondra;

Q_DECLARE_METATYPE(QList<pondra::ScreenArea>)

namespace {
/// 1440 × 900 with a 25 px bar along the top.
const ScreenArea laptop{QRect(0, 0, 1440, 900), QRect(0, 25, 1440, 875)};
/// A second screen to the laptop's right.
const ScreenArea monitor{QRect(1440, 0, 1920, 1080), QRect(1440, 0, 1920, 1080)};

const char noCompositorLine[] = "No compositing manager: the screen-edge glow is not shown";

/// The colour of a pixel, unpremultiplied.
QColor at(const QImage& image, QPoint point)
{
    return image.convertToFormat(QImage::Format_ARGB32).pixelColor(point);
}

/// Counts the moves of a window.
class MoveCounter final : public QObject
{
public:
    explicit MoveCounter(QWidget& window) { window.installEventFilter(this); }
    int moves = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Move)
            ++moves;
        return false;
    }
};

/// The offscreen platform says at every raise and every step of a fade that
/// it cannot do them; those lines are dropped, everything else goes on to Qt Test.
QtMessageHandler qtTestHandler = nullptr;
void dropOffscreenLimits(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (text == QLatin1String("This plugin does not support setting window opacity") ||
        text == QLatin1String("This plugin does not support raise()"))
        return;
    qtTestHandler(type, context, text);
}

/// The overlay on fakes and virtual time.
struct OverlayRig
{
    explicit OverlayRig(bool compositing = true)
        : pointer(std::make_shared<FakePointerAndScreens>()),
          compositor(std::make_shared<FakeCompositingQuery>(compositing)),
          overlay(scheduler, RingDisplayBackends{pointer, compositor})
    {
        pointer->screenList = {laptop};
        pointer->pointer = QPoint(500, 500);
    }
    void advance(int ms) { scheduler.advance(milliseconds(ms)); }
    QWidget& window() { return *overlay.window(); }
    bool onScreen() { return window().isVisible(); }
    qreal opacity() { return window().windowOpacity(); }

    std::shared_ptr<FakePointerAndScreens> pointer;
    std::shared_ptr<FakeCompositingQuery> compositor;
    VirtualScheduler scheduler;
    CursorRingWindow overlay;
};
} // namespace

class TestRingDisplay final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qtTestHandler = qInstallMessageHandler(dropOffscreenLimits); }
    void cleanupTestCase() { qInstallMessageHandler(qtTestHandler); }

    void placement_data()
    {
        QTest::addColumn<QList<ScreenArea>>("screens");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QPoint>("origin");
        const QList<ScreenArea> one{laptop};
        const QList<ScreenArea> two{laptop, monitor};
        QTest::newRow("beside the pointer") << one << QPoint(500, 500) << QPoint(518, 466);
        QTest::newRow("flipped left at the right edge") << one << QPoint(1300, 500) << QPoint(1042, 466);
        // The bubble flips once 18 + 240 pixels right of the pointer pass the visible right edge.
        QTest::newRow("last place on the right") << one << QPoint(1182, 500) << QPoint(1200, 466);
        QTest::newRow("first place flipped") << one << QPoint(1183, 500) << QPoint(925, 466);
        QTest::newRow("last place on the right, screen beside")
            << two << QPoint(1182, 500) << QPoint(1200, 466);
        QTest::newRow("first place flipped, screen beside") << two << QPoint(1183, 500) << QPoint(925, 466);
        QTest::newRow("last place on the right of the second screen")
            << two << QPoint(3102, 500) << QPoint(3120, 466);
        QTest::newRow("first place flipped on the second screen")
            << two << QPoint(3103, 500) << QPoint(2845, 466);
        QTest::newRow("kept above the bottom edge") << one << QPoint(10, 880) << QPoint(28, 832);
        QTest::newRow("flipped and kept below the bar") << one << QPoint(1435, 30) << QPoint(1177, 25);
        QTest::newRow("on the screen that holds the pointer") << two << QPoint(1500, 10) << QPoint(1518, 0);
        QTest::newRow("a right edge belongs to the next screen")
            << two << QPoint(1440, 500) << QPoint(1458, 466);
        QTest::newRow("off every screen: the primary one") << two << QPoint(3400, 500) << QPoint(1200, 466);
        QTest::newRow("no screen at all: unclamped")
            << QList<ScreenArea>{} << QPoint(-50, 10) << QPoint(-32, -24);
        QTest::newRow("panel on the left")
            << QList<ScreenArea>{{QRect(0, 0, 1440, 900), QRect(60, 0, 1380, 900)}} << QPoint(30, 500)
            << QPoint(60, 466);
        // Smaller than the bubble: its left and bottom edges win.
        QTest::newRow("tiny screen") << QList<ScreenArea>{{QRect(0, 0, 200, 50), QRect(0, 0, 200, 50)}}
                                     << QPoint(100, 20) << QPoint(0, -18);
    }
    void placement()
    {
        QFETCH(QList<ScreenArea>, screens);
        QFETCH(QPoint, pointer);
        QFETCH(QPoint, origin);
        const std::optional<ScreenArea> primary =
            screens.isEmpty() ? std::nullopt : std::optional<ScreenArea>(screens.first());
        QCOMPARE(cursorRing::placement(pointer, screens, primary), origin);
    }

    void glowRisesEvenlyToHalfOpaqueYellow()
    {
        PeripheralGlowView view;
        view.resize(PeripheralGlowWindow::stripWidth, 120);
        const QImage image = test::grabWidget(view).convertToFormat(QImage::Format_ARGB32);
        const int last = image.width() - 1;
        QCOMPARE(image.pixelColor(0, 60).alpha(), 0);
        QVERIFY2(qAbs(image.pixelColor(last, 60).alpha() - 128) <= 1,
                 qPrintable(QString::number(image.pixelColor(last, 60).alpha())));
        int previous = -1;
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, 0);
            QVERIFY(c.alpha() > previous);
            previous = c.alpha();
            // The same yellow all the way: no darker middle.
            if (c.alpha() >= 40) {
                const QColor want = palette::yellow();
                QVERIFY2(qAbs(c.red() - want.red()) <= 3 && qAbs(c.green() - want.green()) <= 3 &&
                             qAbs(c.blue() - want.blue()) <= 3,
                         qPrintable(c.name()));
            }
            for (int y = 1; y < image.height(); ++y)
                QCOMPARE(image.pixel(x, y), image.pixel(x, 0));
        }
    }

    void glowWindowIsMadeHiddenAndPlacedAtEveryShow()
    {
        auto screens = std::make_shared<FakePointerAndScreens>();
        auto compositor = std::make_shared<FakeCompositingQuery>(true);
        screens->screenList = {{QRect(100, 50, 1440, 900), QRect(100, 75, 1440, 875)}, monitor};
        PeripheralGlowWindow glow(RingDisplayBackends{screens, compositor});
        QWidget& window = *glow.window();
        QVERIFY(!glow.isVisible());
        QCOMPARE(window.objectName(), WindowIdentifiers::glowWindow);
        QCOMPARE(window.windowRole(), WindowIdentifiers::glowWindow);
        QVERIFY(WindowRegistry::instance().windows().contains(&window));
        for (Qt::WindowType flag :
             {Qt::X11BypassWindowManagerHint, Qt::WindowTransparentForInput, Qt::WindowDoesNotAcceptFocus,
              Qt::WindowStaysOnTopHint, Qt::FramelessWindowHint})
            QVERIFY(window.windowFlags().testFlag(flag));

        glow.show();
        QVERIFY(glow.isVisible());
        // The primary screen's full frame, not its visible part.
        QCOMPARE(window.geometry(), QRect(1510, 50, 30, 900));
        glow.hide();
        QVERIFY(!glow.isVisible());

        // The primary screen changed: the next show follows it.
        screens->screenList = {monitor};
        glow.show();
        QCOMPARE(window.geometry(), QRect(3330, 0, 30, 1080));
        glow.hide();

        screens->screenList = {};
        glow.show();
        QVERIFY(!glow.isVisible());
    }

    void glowIsNotShownWithoutACompositor()
    {
        auto screens = std::make_shared<FakePointerAndScreens>();
        screens->screenList = {laptop};
        auto compositor = std::make_shared<FakeCompositingQuery>(false);
        PeripheralGlowWindow glow(RingDisplayBackends{screens, compositor});
        QTest::ignoreMessage(QtInfoMsg, noCompositorLine);
        glow.show();
        QVERIFY(!glow.isVisible());
        // Asked again at each show.
        compositor->compositing = true;
        glow.show();
        QVERIFY(glow.isVisible());
        QCOMPARE(compositor->queries, 2);
        // The compositor goes during the ring; a newer ring takes the strip down.
        compositor->compositing = false;
        QTest::ignoreMessage(QtInfoMsg, noCompositorLine);
        glow.show();
        QVERIFY(!glow.isVisible());
    }

    void bubbleIsAsWideAsItsContent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("cut");
        QTest::newRow("short") << "Ana" << false;
        QTest::newRow("long") << "Bartholomew Fitzgerald-Montgomery of Westminster" << true;
        QTest::newRow("line breaks are spaces") << "Ana\nLi" << false;
    }
    void bubbleIsAsWideAsItsContent()
    {
        QFETCH(QString, name);
        QFETCH(bool, cut);
        const CursorRingLayout layout = CursorRingView::layoutFor(name, cursorRing::windowSize);
        const QRect window(QPoint(0, 0), cursorRing::windowSize);
        QCOMPARE(layout.bubble.top(), 6);
        QCOMPARE(layout.bubble.height(), 56);
        QVERIFY(qAbs(layout.bubble.left() - (window.right() - layout.bubble.right())) <= 1); // centred
        QCOMPARE(layout.avatar, QRect(layout.bubble.left() + 12, 14, 40, 40));
        QCOMPARE(layout.name.left(), layout.avatar.right() + 1 + 10);
        QCOMPARE(layout.caption.left(), layout.name.left());
        QCOMPARE(layout.caption.top(), layout.name.bottom() + 1 + 2);
        QVERIFY(!layout.shownName.contains(QLatin1Char('\n')));
        QCOMPARE(layout.bubble.width() == window.width() - 12, cut);
        QCOMPARE(layout.shownName.endsWith(QChar(0x2026)), cut);
        QCOMPARE(layout.bubble.right() - layout.name.right(), 12);
        const QFontMetrics metrics(text::system(13, QFont::DemiBold));
        QVERIFY(metrics.horizontalAdvance(layout.shownName) <= layout.name.width());
    }

    void bubbleShowsThePhotoInACircle()
    {
        OverlayRig rig;
        rig.overlay.show(QStringLiteral("Ana"), test::colourBands());
        const CursorRingLayout layout = rig.overlay.view()->layout();
        const QImage image = test::grabWidget(rig.window());
        const QPoint centre = layout.avatar.center();
        // Aspect-filled: only the middle band shows, edge to edge of the circle.
        QCOMPARE(at(image, centre).rgb(), qRgb(0, 255, 0));
        QCOMPARE(at(image, centre + QPoint(-17, 0)).rgb(), qRgb(0, 255, 0));
        // Clipped to the circle: the tile's corner is the panel.
        const QColor corner = at(image, layout.avatar.topLeft() + QPoint(1, 1));
        QVERIFY2(corner.red() < 60 && corner.green() < 60, qPrintable(corner.name()));
        // The panel: black at 80 %, see-through where a compositor runs.
        const QColor panel = at(image, layout.bubble.topLeft() + QPoint(6, 28));
        QVERIFY(qAbs(panel.alpha() - 204) <= 2);
        QCOMPARE(panel.rgb(), qRgb(0, 0, 0));
        QVERIFY(rig.window().mask().isEmpty());
        // The name is drawn in white.
        QVERIFY(brightestIn(image, layout.name) > 240);
    }

    void bubbleWithoutPhotoShowsTheSymbolOpaqueWithoutACompositor()
    {
        OverlayRig rig(false);
        rig.overlay.show(QStringLiteral("Ana"), std::nullopt);
        const CursorRingLayout layout = rig.overlay.view()->layout();
        const QImage image = test::grabWidget(rig.window());
        // The symbol's ring, white at 80 % over the opaque panel.
        const QColor ring = at(image, QPoint(layout.avatar.center().x(), layout.avatar.top() + 3));
        QVERIFY2(ring.red() > 180 && ring.red() < 225 && ring.alpha() == 255, qPrintable(ring.name()));
        const QColor panel = at(image, layout.bubble.topLeft() + QPoint(6, 28));
        QCOMPARE(panel.alpha(), 255);
        // Cut to the rounded panel: the margin and the corners are outside.
        QVERIFY(rig.window().mask().contains(layout.bubble.center()));
        QVERIFY(!rig.window().mask().contains(QPoint(2, 34)));
        QVERIFY(!rig.window().mask().contains(layout.bubble.topLeft()));
        QCOMPARE(image.pixelColor(layout.bubble.topLeft()).alpha(), 0);
    }

    void gallery()
    {
        // Each bubble on a backdrop with light and dark halves, where its
        // translucency and shadow show.
        struct Sample
        {
            QString name;
            std::optional<QImage> photo;
            bool compositing;
        };
        const QImage photo(test::testDataPath(QStringLiteral("grace_hopper.jpg")));
        QVERIFY(!photo.isNull());
        const QList<Sample> samples{
            {QStringLiteral("Grace Hopper"), photo, true},
            {QStringLiteral("Ana"), std::nullopt, true},
            {QStringLiteral("Bartholomew Fitzgerald-Montgomery of Westminster"), photo, true},
            {QStringLiteral("Grace Hopper (no compositor)"), photo, false},
        };
        const QSize cell = cursorRing::windowSize + QSize(20, 12);
        QImage sheet(cell.width() * 2, cell.height() * samples.size(), QImage::Format_ARGB32_Premultiplied);
        QPainter p(&sheet);
        p.fillRect(QRect(0, 0, cell.width(), sheet.height()), QColor(0xf2, 0xf2, 0xf2));
        p.fillRect(QRect(cell.width(), 0, cell.width(), sheet.height()), QColor(0x3a, 0x4a, 0x5a));
        for (int i = 0; i < samples.size(); ++i) {
            OverlayRig rig(samples[i].compositing);
            rig.overlay.show(samples[i].name, samples[i].photo);
            const QImage bubble = test::grabWidget(rig.window());
            for (int column = 0; column < 2; ++column)
                p.drawImage(column * cell.width() + 10, i * cell.height() + 6, bubble);
        }
        p.end();
        QVERIFY(sheet.save(test::galleryFolder() + QStringLiteral("/cursor-ring.png")));

        QImage desk(360, 200, QImage::Format_ARGB32_Premultiplied);
        QPainter d(&desk);
        d.fillRect(QRect(0, 0, 180, 200), QColor(0xf2, 0xf2, 0xf2));
        d.fillRect(QRect(180, 0, 180, 100), QColor(0x3a, 0x4a, 0x5a));
        d.fillRect(QRect(180, 100, 180, 100), Qt::white);
        PeripheralGlowView glow;
        glow.resize(PeripheralGlowWindow::stripWidth, desk.height());
        d.drawImage(desk.width() - glow.width(), 0, test::grabWidget(glow));
        d.end();
        QVERIFY(desk.save(test::galleryFolder() + QStringLiteral("/glow.png")));
    }

    void showFadesInFollowsAndHidesAfterFiveSeconds()
    {
        OverlayRig rig;
        QVERIFY(!rig.onScreen());
        QCOMPARE(rig.opacity(), 0.0);
        QCOMPARE(rig.window().objectName(), WindowIdentifiers::cursorRing);
        QCOMPARE(rig.window().windowRole(), WindowIdentifiers::cursorRing);
        QCOMPARE(rig.window().size(), cursorRing::windowSize);
        QVERIFY(rig.window().windowFlags().testFlag(Qt::WindowTransparentForInput));

        rig.overlay.show(QStringLiteral("Ana"), std::nullopt);
        QVERIFY(rig.onScreen());
        QCOMPARE(rig.window().pos(), QPoint(518, 466));
        rig.advance(80);
        QVERIFY(rig.opacity() > 0.2 && rig.opacity() < 0.8);
        rig.advance(80);
        QCOMPARE(rig.opacity(), 1.0);

        rig.pointer->pointer = QPoint(1300, 500);
        rig.advance(17);
        QCOMPARE(rig.window().pos(), QPoint(1042, 466));

        rig.advance(5000 - 177 - 1);
        QVERIFY(rig.overlay.isShown());
        rig.advance(1);
        QVERIFY(!rig.overlay.isShown());
        // Not following any more while it fades.
        rig.pointer->pointer = QPoint(500, 500);
        rig.advance(80);
        QVERIFY(rig.onScreen());
        QCOMPARE(rig.window().pos(), QPoint(1042, 466));
        rig.advance(80);
        QVERIFY(!rig.onScreen());
        QCOMPARE(rig.opacity(), 0.0);
        // Nothing is left running.
        QCOMPARE(rig.scheduler.pendingCount(), 0);
    }

    void aSecondShowRestartsTheCountdown()
    {
        OverlayRig rig;
        rig.overlay.show(QStringLiteral("Ana"), std::nullopt);
        rig.advance(3000);
        rig.overlay.show(QStringLiteral("Bo"), test::colourBands());
        QCOMPARE(rig.overlay.view()->name(), QStringLiteral("Bo"));
        QVERIFY(rig.overlay.view()->photo().has_value());
        rig.advance(4999);
        QVERIFY(rig.overlay.isShown());
        QCOMPARE(rig.opacity(), 1.0);
        rig.advance(1);
        QVERIFY(!rig.overlay.isShown());
        rig.advance(200);
        QVERIFY(!rig.onScreen());
    }

    void aShowDuringTheFadeOutStaysShown()
    {
        OverlayRig rig;
        rig.overlay.show(QStringLiteral("Ana"), std::nullopt);
        rig.advance(500);
        rig.overlay.hide();
        rig.advance(64);
        QVERIFY(rig.opacity() < 1.0 && rig.opacity() > 0.0);
        rig.overlay.show(QStringLiteral("Bo"), std::nullopt);
        rig.advance(1000);
        QVERIFY(rig.onScreen());
        QCOMPARE(rig.opacity(), 1.0);
        // Still following, and hidden 5 s after the second show.
        rig.pointer->pointer = QPoint(700, 300);
        rig.advance(17);
        QCOMPARE(rig.window().pos(), QPoint(718, 266));
        rig.advance(5000 - 1017 + 200);
        QVERIFY(!rig.onScreen());
    }

    void hideWhenHiddenChangesNothing()
    {
        OverlayRig rig;
        rig.overlay.hide();
        QVERIFY(!rig.onScreen());
        QCOMPARE(rig.opacity(), 0.0);
        QCOMPARE(rig.scheduler.pendingCount(), 0);
        QCOMPARE(rig.pointer->pointerReads, 0);

        rig.overlay.show(QStringLiteral("Ana"), std::nullopt);
        rig.advance(200);
        rig.overlay.hide();
        rig.advance(60);
        QVERIFY(rig.opacity() > 0.0 && rig.opacity() < 1.0);
        rig.overlay.hide(); // the running fade-out goes on, not restarted
        rig.advance(100);
        QVERIFY(!rig.onScreen());
        rig.overlay.hide();
        QCOMPARE(rig.scheduler.pendingCount(), 0);
    }

    void followMovesOnlyWhenThePointerMoved()
    {
        OverlayRig rig;
        MoveCounter counter(rig.window());
        rig.overlay.show(QStringLiteral("Ana"), std::nullopt);
        const int movesAtShow = counter.moves;
        const int readsAtShow = rig.pointer->pointerReads;
        rig.advance(1000);
        QCOMPARE(counter.moves, movesAtShow);
        QVERIFY(rig.pointer->pointerReads - readsAtShow >= 60);
        rig.pointer->pointer += QPoint(5, 5);
        rig.advance(17);
        QCOMPARE(counter.moves, movesAtShow + 1);
        QCOMPARE(rig.window().pos(), QPoint(523, 471));
        // Hidden: the pointer is no longer read.
        rig.overlay.hide();
        rig.advance(500);
        const int readsWhenHidden = rig.pointer->pointerReads;
        rig.advance(1000);
        QCOMPARE(rig.pointer->pointerReads, readsWhenHidden);
    }

private:
    static int brightestIn(const QImage& image, const QRect& rect)
    {
        int best = 0;
        const QImage plain = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                best = std::max(best, qGray(plain.pixel(x, y)));
        return best;
    }
};

PONDRA_VIEW_TEST_MAIN(TestRingDisplay)
#include "tst_ringdisplay.moc"
