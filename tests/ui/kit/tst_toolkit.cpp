#include "platform/compositing/FakeCompositingQuery.h"
#include "ui/kit/FilledButton.h"
#include "ui/kit/FrameTicker.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/Palette.h"
#include "ui/kit/PhotoTile.h"
#include "ui/kit/PlainText.h"
#include "ui/kit/TextStyles.h"
#include "ui/kit/WindowSurface.h"

#include "ViewTesting.h"

#include <QBackingStore>
#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QSvgRenderer>

using namespace pondra;

Q_DECLARE_METATYPE(pondra::Glyph)

namespace {

/// The scheduler given, counting the timers asked of it.
class CountingScheduler final : public Scheduler
{
public:
    explicit CountingScheduler(Scheduler& inner) : m_inner(inner) {}
    TimerHandle after(milliseconds delay, QObject* context, std::function<void()> step) override
    {
        ++timers;
        return m_inner.after(delay, context, std::move(step));
    }
    TimerHandle every(milliseconds period, QObject* context, std::function<void()> step) override
    {
        ++timers;
        return m_inner.every(period, context, std::move(step));
    }
    QDateTime now() const override { return m_inner.now(); }
    QTimeZone timeZone() const override { return m_inner.timeZone(); }
    qint64 monotonicMs() const override { return m_inner.monotonicMs(); }

    int timers = 0;

private:
    Scheduler& m_inner;
};

/// Counts the paint events and update requests an object receives.
struct PaintsAndRequests final : QObject
{
    int paints = 0;
    int requests = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        requests += event->type() == QEvent::UpdateRequest ? 1 : 0;
        return false;
    }
};

QString repeated(const QString& unit, int times)
{
    QString out;
    for (int i = 0; i < times; ++i)
        out += unit;
    return out;
}
} // namespace

class TestToolkit final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void peerTextsAreOneLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "Ana"
                               << "Ana";
        QTest::newRow("line feed") << "a\nb"
                                   << "a b";
        QTest::newRow("CR LF") << "a\r\nb"
                               << "a  b";
        QTest::newRow("tab and NUL") << QStringLiteral("a\tb") + QChar(0) + "c"
                                     << "a b c";
        QTest::newRow("line and paragraph separators") << QString::fromUtf16(u"a\u2028b\u2029c") << "a b c";
        QTest::newRow("next line (C1)") << QString::fromUtf16(u"a\u0085b") << "a b";
        QTest::newRow("markup stays text") << "<b>Bo</b> &amp;"
                                           << "<b>Bo</b> &amp;";
        QTest::newRow("joined emoji kept whole") << QString::fromUtf16(u"\U0001F469\u200D\U0001F4BB")
                                                 << QString::fromUtf16(u"\U0001F469\u200D\U0001F4BB");
        QTest::newRow("1,500 letters cut to 1,000") << repeated("x", 1500) << repeated("x", 1000);
        QTest::newRow("accented letters cut by cluster") << repeated(QString::fromUtf16(u"e\u0301"), 1200)
                                                         << repeated(QString::fromUtf16(u"e\u0301"), 1000);
        QTest::newRow("emoji cut by cluster") << repeated(QString::fromUtf16(u"\U0001F600"), 1001)
                                              << repeated(QString::fromUtf16(u"\U0001F600"), 1000);
    }
    void peerTextsAreOneLine()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(plainText::oneLine(text), expected);
    }

    void clustersAreCountedUpToTheLimit_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("expected");
        QTest::newRow("empty") << "" << 20 << 0;
        QTest::newRow("19 letters") << repeated("a", 19) << 20 << 19;
        QTest::newRow("19 letters and an emoji")
            << repeated("a", 19) + QString::fromUtf16(u"\U0001F3B5") << 20 << 20;
        QTest::newRow("flag is one") << QString::fromUtf16(u"\U0001F1E9\U0001F1EA") << 20 << 1;
        QTest::newRow("stops at the limit") << repeated("a", 500) << 20 << 20;
    }
    void clustersAreCountedUpToTheLimit()
    {
        QFETCH(QString, text);
        QFETCH(int, limit);
        QFETCH(int, expected);
        QCOMPARE(plainText::clusterCount(text, limit), expected);
    }

    void elidedLabelShowsMarkupAsText()
    {
        ElidedLabel label;
        label.setPeerText(QStringLiteral("<i>Bo</i>\nb"));
        QCOMPARE(label.textFormat(), Qt::PlainText);
        QCOMPARE(label.text(), QStringLiteral("<i>Bo</i> b"));
        QCOMPARE(label.minimumSizeHint().width(), 0);
    }

    void textStyles_data()
    {
        QTest::addColumn<QFont>("font");
        QTest::addColumn<int>("pixels");
        QTest::addColumn<int>("weight");
        QTest::newRow("large title") << text::largeTitle() << 26 << int(QFont::Normal);
        QTest::newRow("headline") << text::headline() << 13 << int(QFont::DemiBold);
        QTest::newRow("body") << text::body() << 13 << int(QFont::Normal);
        QTest::newRow("subheadline") << text::subheadline() << 11 << int(QFont::Normal);
        QTest::newRow("caption") << text::caption() << 10 << int(QFont::Normal);
        QTest::newRow("system 10 medium") << text::system(10, QFont::Medium) << 10 << int(QFont::Medium);
    }
    void textStyles()
    {
        QFETCH(QFont, font);
        QFETCH(int, pixels);
        QFETCH(int, weight);
        QCOMPARE(font.pixelSize(), pixels);
        QCOMPARE(int(font.weight()), weight);
        QCOMPARE(font.family(), QStringLiteral("DejaVu Sans"));
    }

    void quietColoursAreTranslucentText()
    {
        const QPalette p = QApplication::palette();
        QCOMPARE(palette::secondary(p).rgb(), p.color(QPalette::WindowText).rgb());
        QCOMPARE(palette::secondary(p).alpha(), 140);
        QCOMPARE(palette::material(p).rgb(), p.color(QPalette::Window).rgb());
        QCOMPARE(palette::material(p).alpha(), 217);
    }

    void glyphsAreTinted_data()
    {
        QTest::addColumn<Glyph>("glyph");
        for (Glyph g : {Glyph::personFill, Glyph::videoFill, Glyph::speakerSlashFill, Glyph::musicNote,
                        Glyph::headphones, Glyph::pencil, Glyph::moonFill, Glyph::sunMaxFill, Glyph::bellFill,
                        Glyph::personCropCircleFill, Glyph::cameraFill, Glyph::eye, Glyph::eyeSlash,
                        Glyph::messageFill})
            QTest::newRow(qPrintable(glyphs::resourcePath(g))) << g;
    }
    void glyphsAreTinted()
    {
        QFETCH(Glyph, glyph);
        QVERIFY(QSvgRenderer(glyphs::resourcePath(glyph)).isValid());
        const QImage image =
            glyphs::pixmap(glyph, 24, palette::orange()).toImage().convertToFormat(QImage::Format_ARGB32);
        int covered = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() < 200)
                    continue;
                ++covered;
                const QColor want = palette::orange();
                QVERIFY(qAbs(c.red() - want.red()) <= 2 && qAbs(c.green() - want.green()) <= 2 &&
                        qAbs(c.blue() - want.blue()) <= 2);
            }
        }
        QVERIFY2(covered > 40, "the glyph draws something");
    }

    /// Every glyph at 12, 20 and 40 pixels, in the gallery folder.
    void glyphSheet()
    {
        const QList<Glyph> all{Glyph::personFill,       Glyph::videoFill,
                               Glyph::speakerSlashFill, Glyph::musicNote,
                               Glyph::headphones,       Glyph::pencil,
                               Glyph::moonFill,         Glyph::sunMaxFill,
                               Glyph::bellFill,         Glyph::personCropCircleFill,
                               Glyph::cameraFill,       Glyph::eye,
                               Glyph::eyeSlash,         Glyph::messageFill};
        QImage sheet(all.size() * 48 + 8, 3 * 48 + 8, QImage::Format_ARGB32_Premultiplied);
        sheet.fill(Qt::white);
        QPainter p(&sheet);
        for (int i = 0; i < all.size(); ++i) {
            int row = 0;
            for (int size : {12, 20, 40})
                glyphs::paint(p, all[i], QRectF(8 + i * 48, 8 + (row++) * 48, 40, 40), size, Qt::black);
        }
        p.end();
        QVERIFY(sheet.save(test::galleryFolder() + QStringLiteral("/glyphs.png")));
    }

    void fillCropsTheLongerSides_data()
    {
        QTest::addColumn<QSizeF>("source");
        QTest::addColumn<QSizeF>("target");
        QTest::addColumn<QRectF>("expected");
        QTest::newRow("landscape in a square")
            << QSizeF(320, 240) << QSizeF(56, 56) << QRectF(40, 0, 240, 240);
        QTest::newRow("portrait in a square")
            << QSizeF(240, 320) << QSizeF(100, 100) << QRectF(0, 40, 240, 240);
        QTest::newRow("square") << QSizeF(50, 50) << QSizeF(56, 56) << QRectF(0, 0, 50, 50);
        QTest::newRow("square in a wide box")
            << QSizeF(100, 100) << QSizeF(200, 100) << QRectF(0, 25, 100, 50);
    }
    void fillCropsTheLongerSides()
    {
        QFETCH(QSizeF, source);
        QFETCH(QSizeF, target);
        QFETCH(QRectF, expected);
        QCOMPARE(photoTile::fillSourceRect(source, target), expected);
    }

    void landscapePhotoFillsTheTile_data()
    {
        QTest::addColumn<QImage>("photo");
        QTest::newRow("landscape") << test::colourBands(300, 100);
        QTest::newRow("portrait") << test::colourBands(100, 300, true);
    }
    void landscapePhotoFillsTheTile()
    {
        QFETCH(QImage, photo);
        QImage canvas(56, 56, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter p(&canvas);
        photoTile::paint(p, QRectF(0, 0, 56, 56), photo, photoTile::placeholderStyle(8, 20));
        p.end();
        // Only the middle band shows, edge to edge: cropped, not letterboxed or squeezed.
        for (const QPoint at : {QPoint(28, 28), QPoint(2, 28), QPoint(53, 28), QPoint(28, 2), QPoint(28, 53)})
            QCOMPARE(canvas.pixelColor(at), QColor(0, 255, 0));
        // Rounded corners are clipped.
        QCOMPARE(canvas.pixelColor(0, 0).alpha(), 0);
    }

    void missingPhotoShowsThePlaceholder()
    {
        QImage canvas(100, 100, QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter p(&canvas);
        photoTile::paint(p, QRectF(0, 0, 100, 100), std::nullopt, photoTile::placeholderStyle(8, 40));
        p.end();
        const QColor corner = canvas.pixelColor(8, 92);
        QVERIFY(qAbs(corner.alphaF() - 0.3) < 0.02);
        QCOMPARE(canvas.pixelColor(50, 42).rgb(), palette::gray().rgb()); // the person's body
        QCOMPARE(canvas.pixelColor(0, 0).alpha(), 0);
    }

    void filledButtonIsNeverDefault()
    {
        FilledButton button(QStringLiteral("Ring"), palette::orange());
        QVERIFY(!button.autoDefault());
        QVERIFY(!button.isDefault());
        button.setGlyph(Glyph::bellFill, 10);
        button.resize(100, 24);
        const QImage image = test::grabWidget(button);
        QCOMPARE(image.pixelColor(4, 12).rgb(), palette::orange().rgb());
    }

    void frameTickRunsOnlyWhileSomethingIsAttached()
    {
        VirtualScheduler scheduler;
        FrameTicker ticker(scheduler);
        QCOMPARE(scheduler.pendingCount(), 0);
        int a = 0;
        int b = 0;
        auto first = std::make_unique<QObject>();
        QObject second;
        ticker.attach(first.get(), [&a] { ++a; });
        ticker.attach(&second, [&] {
            ++b;
            if (b == 3)
                ticker.detach(&second); // from inside its own frame
        });
        QVERIFY(ticker.isRunning());
        scheduler.advance(milliseconds(1000));
        QCOMPARE(a, 62);
        QCOMPARE(b, 3);
        first.reset(); // destroyed clients leave by themselves
        QCOMPARE(ticker.clientCount(), 0);
        QVERIFY(!ticker.isRunning());
        scheduler.advance(milliseconds(1000));
        QCOMPARE(scheduler.pendingCount(), 0);
    }

    void steppingClientsWakeOnlyWhenDue()
    {
        VirtualScheduler scheduler;
        FrameTicker ticker(scheduler);
        const qint64 start = ticker.nowMs();
        QWidget window;
        window.resize(100, 40);
        QWidget left(&window);
        left.setGeometry(0, 0, 40, 40);
        QWidget right(&window);
        right.setGeometry(60, 0, 40, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        test::PaintCounter windowPaints(&window);

        // Two clients every 40 ms, in step; a third once, then it leaves.
        QList<qint64> wakes;
        int onceRuns = 0;
        auto every40 = [&](QWidget* widget) {
            return [&, widget]() -> std::optional<qint64> {
                const qint64 now = ticker.nowMs();
                if (wakes.isEmpty() || wakes.last() != now)
                    wakes << now;
                ticker.repaint(widget);
                return now + 40;
            };
        };
        ticker.attachAt(&left, start + 40, every40(&left));
        ticker.attachAt(&right, start + 40, every40(&right));
        QObject once;
        ticker.attachAt(&once, start + 100, [&]() -> std::optional<qint64> {
            ++onceRuns;
            return std::nullopt;
        });
        QVERIFY(ticker.isRunning());
        QCOMPARE(scheduler.pendingCount(), 1); // one timer for all of them

        QCoreApplication::processEvents();
        windowPaints.count = 0;
        scheduler.advance(milliseconds(200));
        QCOMPARE(wakes, (QList<qint64>{start + 40, start + 80, start + 120, start + 160, start + 200}));
        QCOMPARE(onceRuns, 1);
        QVERIFY(!ticker.isAttached(&once));
        // Both moved in each wake and were painted together: one paint of the window a wake.
        QCOMPARE(windowPaints.count, 5);

        // A moment already past counts as the next millisecond.
        ticker.attachAt(&once, start, [&]() -> std::optional<qint64> {
            ++onceRuns;
            return std::nullopt;
        });
        scheduler.advance(milliseconds(1));
        QCOMPARE(onceRuns, 2);
        ticker.detach(&left);
        ticker.detach(&right);
        QVERIFY(!ticker.isRunning());
        QCOMPARE(scheduler.pendingCount(), 0);
    }

    void aSteadyRhythmKeepsOneTimer()
    {
        VirtualScheduler time;
        CountingScheduler scheduler(time);
        FrameTicker ticker(scheduler);
        QObject client;
        // Each step: the monotonic clock, and the wall-clock moment the step saw.
        QList<std::pair<qint64, qint64>> wakes;
        ticker.attachAt(&client, ticker.nowMs() + 40, [&]() -> std::optional<qint64> {
            wakes.append({time.monotonicMs(), ticker.nowMs()});
            return ticker.nowMs() + 40;
        });
        time.advance(milliseconds(1000));
        QCOMPARE(wakes.size(), 25);
        // Every 40 ms, on one timer rather than one for each step.
        QCOMPARE(scheduler.timers, 1);

        // The wall clock is set back an hour, then forward two (a time
        // server's correction, the user setting the time): the steps keep
        // their rhythm, and each sees the wall clock where it now stands.
        for (const qint64 change : {-3'600'000, 7'200'000}) {
            wakes.clear();
            const qint64 setAt = time.monotonicMs();
            time.setNow(time.now().addMSecs(change));
            const qint64 wall = time.now().toMSecsSinceEpoch();
            time.advance(milliseconds(200));
            QCOMPARE(wakes.size(), 5);
            QVERIFY2(wakes.first().first - setAt <= 40,
                     qPrintable(QString::number(wakes.first().first - setAt)));
            for (int i = 0; i < wakes.size(); ++i) {
                QCOMPARE(wakes[i].second - wall, wakes[i].first - setAt);
                if (i > 0)
                    QCOMPARE(wakes[i].first - wakes[i - 1].first, 40);
            }
        }
        // Still the one timer.
        QCOMPARE(scheduler.timers, 1);
        ticker.detach(&client);
        QVERIFY(!ticker.isRunning());
    }

    void stepsPaintStraightWhereNothingCoversThem_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<bool>("straight");
        QTest::newRow("shows whole") << "whole" << true;
        QTest::newRow("a sibling over it") << "covered" << false;
        QTest::newRow("cut by its parent's shape") << "masked" << false;
        QTest::newRow("an effect on it") << "effect" << false;
        QTest::newRow("a native window of its own") << "native" << false;
        QTest::newRow("its painter declines") << "declines" << false;
        QTest::newRow("no painter") << "none" << false;
    }
    void stepsPaintStraightWhereNothingCoversThem()
    {
        QFETCH(QString, setting);
        QFETCH(bool, straight);
        VirtualScheduler scheduler;
        FrameTicker ticker(scheduler);
        QWidget window;
        window.resize(100, 60);
        QWidget row(&window);
        row.setGeometry(0, 0, 100, 40);
        QWidget text(&row);
        text.setGeometry(10, 10, 50, 10);
        text.setAttribute(Qt::WA_OpaquePaintEvent);
        QWidget beside(&row); // stacked over the text
        beside.setGeometry(setting == QLatin1String("covered") ? QRect(40, 5, 30, 20) : QRect(70, 5, 20, 20));
        if (setting == QLatin1String("masked"))
            row.setMask(QRegion(0, 0, 100, 15));
        if (setting == QLatin1String("effect"))
            text.setGraphicsEffect(new QGraphicsOpacityEffect(&text));
        if (setting == QLatin1String("native"))
            text.setAttribute(Qt::WA_NativeWindow);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCoreApplication::processEvents();

        const QColor fill(12, 34, 56);
        FrameTicker::OpaquePainter painter;
        if (setting != QLatin1String("none")) {
            painter = [&](QImage& image, QPoint at) {
                if (setting == QLatin1String("declines"))
                    return false;
                QPainter(&image).fillRect(QRect(at, text.size()), fill);
                return true;
            };
        }
        ticker.attachAt(&text, ticker.nowMs() + 40, [&]() -> std::optional<qint64> {
            ticker.repaint(&text, painter);
            return ticker.nowMs() + 40;
        });
        PaintsAndRequests textEvents;
        text.installEventFilter(&textEvents);
        PaintsAndRequests windowEvents;
        window.installEventFilter(&windowEvents);
        for (int i = 0; i < 5; ++i) {
            scheduler.advance(milliseconds(40));
            QCoreApplication::processEvents();
        }
        if (straight) {
            // Painted into the backing store and flushed: no paint event, no update.
            QCOMPARE(textEvents.paints, 0);
            QCOMPARE(windowEvents.requests, 0);
            const auto* store = static_cast<const QImage*>(window.backingStore()->paintDevice());
            QCOMPARE(store->pixelColor(text.mapTo(&window, QPoint(25, 5))), fill);
        } else {
            // Repainted the usual way, once a step, with no update left behind for later.
            QCOMPARE(textEvents.paints, 5);
            QCOMPARE(windowEvents.requests, 5);
        }
        ticker.detach(&text);
    }

    void surfaceIsTranslucentOnlyWithACompositor_data()
    {
        QTest::addColumn<bool>("compositing");
        QTest::newRow("compositor") << true;
        QTest::newRow("none") << false;
    }
    void surfaceIsTranslucentOnlyWithACompositor()
    {
        QFETCH(bool, compositing);
        QWidget window(nullptr, Qt::FramelessWindowHint | Qt::Tool);
        window.resize(196, 100);
        auto query = std::make_shared<FakeCompositingQuery>(compositing);
        SurfaceLook look;
        look.fill = palette::material(window.palette());
        WindowSurface surface(window, query, look);
        surface.setPanelRect(QRect(8, 8, 180, 84));
        surface.prepareShow();
        QCOMPARE(query->queries, 1);
        QCOMPARE(surface.isTranslucent(), compositing);
        QCOMPARE(window.testAttribute(Qt::WA_TranslucentBackground), compositing);
        QCOMPARE(window.mask().isEmpty(), compositing);
        if (!compositing) {
            // Cut to the rounded panel: the margin and the corners are outside.
            QVERIFY(window.mask().contains(QPoint(98, 50)));
            QVERIFY(!window.mask().contains(QPoint(3, 50)));
            QVERIFY(!window.mask().contains(QPoint(8, 8)));
        }

        QImage canvas(window.size(), QImage::Format_ARGB32_Premultiplied);
        canvas.fill(Qt::transparent);
        QPainter p(&canvas);
        surface.paint(p, window.rect());
        p.end();
        const QColor inside = canvas.pixelColor(98, 50);
        QCOMPARE(inside.rgb(), look.fill.rgb());
        QCOMPARE(inside.alpha(), compositing ? look.fill.alpha() : 255);
        // The drawn shadow below the panel, only where it can be see-through.
        QCOMPARE(canvas.pixelColor(98, 94).alpha() > 0, compositing);
    }
};

PONDRA_VIEW_TEST_MAIN(TestToolkit)
#include "tst_toolkit.moc"
