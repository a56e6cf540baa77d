#pragma once

// What every test that draws views fixes, so pixel probes and gallery
// pictures come out the same on every machine: the DejaVu Sans font, the
// Fusion style, the C locale and a scale factor of 1.
#include "TestEnvironment.h"
#include "XvfbServer.h"

#include <QApplication>
#include <QBackingStore>
#include <QDir>
#include <QFont>
#include <QHash>
#include <QImage>
#include <QLocale>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>
#include <QtTest/qtestspontaneevent.h>

#include <functional>
#include <memory>

#include "ui/kit/WindowFinder.h"

namespace pondra::test {

/// A photo of three bands, red, green and blue: across by default, down
/// with `vertical`. Cropping and letterboxing show in which bands remain.
inline QImage colourBands(int width = 300, int height = 100, bool vertical = false)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int band = vertical ? y * 3 / height : x * 3 / width;
            image.setPixel(x, y, band == 0 ? qRgb(255, 0, 0) : band == 1 ? qRgb(0, 255, 0) : qRgb(0, 0, 255));
        }
    }
    return image;
}

inline void fixViewLook()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(QApplication::style()->standardPalette());
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    QApplication::setFont(font);
    QLocale::setDefault(QLocale::c());
}

/// A dark desktop palette: light text on dark windows, as a desktop switched
/// to a dark theme hands the program while it runs.
inline QPalette darkPalette()
{
    QPalette palette(QColor(0x35, 0x35, 0x35), QColor(0x2b, 0x2b, 0x2b));
    const QColor text(0xf0, 0xf0, 0xf0);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::BrightText,
                            QPalette::ToolTipText, QPalette::HighlightedText}) {
        palette.setColor(QPalette::Active, role, text);
        palette.setColor(QPalette::Inactive, role, text);
    }
    palette.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    palette.setColor(QPalette::AlternateBase, QColor(0x2b, 0x2b, 0x2b));
    palette.setColor(QPalette::ToolTipBase, QColor(0x35, 0x35, 0x35));
    palette.setColor(QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90));
    palette.setColor(QPalette::Highlight, QColor(0x3d, 0x7a, 0xed));
    return palette;
}

/// Sets the application palette for the life of the object, then puts the
/// previous one back, so a test that switches the desktop's colours cannot
/// leak them into the next.
class ScopedApplicationPalette final
{
public:
    explicit ScopedApplicationPalette(const QPalette& palette) : m_previous(QApplication::palette())
    {
        QApplication::setPalette(palette);
    }
    ~ScopedApplicationPalette() { QApplication::setPalette(m_previous); }
    ScopedApplicationPalette(const ScopedApplicationPalette&) = delete;
    ScopedApplicationPalette& operator=(const ScopedApplicationPalette&) = delete;

private:
    QPalette m_previous;
};

/// The widget drawn into an image with a transparent background; a masked
/// window only inside its mask, in place.
inline QImage grabWidget(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    // render() puts the top-left corner of what it draws at the offset, and
    // a masked widget draws only its mask.
    const QPoint origin = widget.mask().isEmpty() ? QPoint() : widget.mask().boundingRect().topLeft();
    widget.render(&image, origin, QRegion(), QWidget::DrawChildren | QWidget::DrawWindowBackground);
    return image;
}

/// What a widget's window holds of it in its backing store: what the screen
/// shows of it after the window's last flush.
inline QImage inBackingStore(const QWidget& widget)
{
    const QWidget* window = widget.window();
    const auto* store = static_cast<const QImage*>(window->backingStore()->paintDevice());
    return store->copy(QRect(widget.mapTo(window, QPoint()), widget.size()));
}

/// `colour` (with its alpha) laid over the opaque `background`.
inline QColor composed(const QColor& colour, const QColor& background)
{
    const qreal a = colour.alphaF();
    const auto mix = [a](int top, int bottom) { return qRound(top * a + bottom * (1 - a)); };
    return QColor(mix(colour.red(), background.red()), mix(colour.green(), background.green()),
                  mix(colour.blue(), background.blue()));
}

/// What a piece of text looks like on screen: the colour around it and the
/// colour of the cores of its strokes.
struct InkOnGround
{
    QColor ground;
    QColor ink;
};

/// The text drawn in `area` of `image`: the ground is the area's most common
/// colour, the ink the pixel that stands out most from it.
inline InkOnGround inkIn(const QImage& image, const QRect& area)
{
    QHash<QRgb, int> counts;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            ++counts[image.pixelColor(x, y).rgb()];
    QRgb ground = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            ground = it.key();
            most = it.value();
        }
    }
    QRgb ink = ground;
    int farthest = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const int distance = qAbs(qRed(it.key()) - qRed(ground)) + qAbs(qGreen(it.key()) - qGreen(ground)) +
                             qAbs(qBlue(it.key()) - qBlue(ground));
        if (distance > farthest) {
            ink = it.key();
            farthest = distance;
        }
    }
    return {QColor(ground), QColor(ink)};
}

/// True when the text drawn in `area` of `image` is `colour` (with its alpha,
/// over the ground around it); `seen` tells what it is instead.
inline bool hasTextColour(const QImage& image, const QRect& area, const QColor& colour, QString* seen)
{
    const InkOnGround text = inkIn(image, area);
    *seen = text.ink.name() + QStringLiteral(" on ") + text.ground.name() + QStringLiteral(", not ") +
            composed(colour, text.ground).name();
    return isNear(text.ink, composed(colour, text.ground), 16);
}

/// Runs `check` with the palette as it is, then with the dark palette that a
/// desktop switched to dark hands the program (once `window` has it), then
/// with the first palette back: colours that were given once and never again
/// show in the second or the third round.
inline void acrossADarkSwitch(QWidget& window, const std::function<void()>& check)
{
    const QColor first = window.palette().color(QPalette::WindowText);
    check();
    if (QTest::currentTestFailed())
        return;
    {
        const ScopedApplicationPalette dark(darkPalette());
        // The application hands its new palette to the windows on the next turn of the event loop.
        QTRY_COMPARE(window.palette().color(QPalette::WindowText), darkPalette().color(QPalette::WindowText));
        check();
        if (QTest::currentTestFailed())
            return;
    }
    QTRY_COMPARE(window.palette().color(QPalette::WindowText), first);
    check();
}

/// The area a child widget covers in a grab of `window`.
inline QRect areaIn(const QWidget& window, const QWidget& child)
{
    return QRect(child.mapTo(&window, QPoint()), child.size());
}

/// Turns the mouse wheel over the middle of `widget` by `notches` (positive:
/// away from the user), as the window system delivers it: a widget that has
/// no use for the turn passes it on to its parents. True when it reached the
/// widget's parent.
inline bool turnWheel(QWidget& widget, int notches)
{
    struct Watch final : QObject
    {
        bool seen = false;
        bool eventFilter(QObject*, QEvent* event) override
        {
            seen = seen || event->type() == QEvent::Wheel;
            return false;
        }
    } watch;
    if (widget.parentWidget())
        widget.parentWidget()->installEventFilter(&watch);
    const QPointF middle = QRectF(widget.rect()).center();
    QWheelEvent wheel(middle, widget.mapToGlobal(middle), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    // Only a turn from the window system goes on to the parents; sendEvent()
    // would mark it as the program's own.
    QSpontaneKeyEvent::setSpontaneous(&wheel);
    qApp->notify(&widget, &wheel);
    return watch.seen;
}

/// Counts the paint events a widget receives while it is installed on it.
class PaintCounter final : public QObject
{
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

/// A plain top-level window in the window registry, as our windows register.
inline std::unique_ptr<QWidget> registeredWindow(const QString& title, const QString& identifier = {})
{
    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(title);
    window->setObjectName(identifier);
    window->resize(120, 80);
    WindowRegistry::instance().add(window.get());
    return window;
}

} // namespace pondra::test

/// The body of a view test's main: QApplication with the fixed look, then the tests.
#define PONDRA_RUN_VIEW_TEST(TestClass)                                                                      \
    qputenv("QT_SCALE_FACTOR", "1");                                                                         \
    QApplication app(argc, argv);                                                                            \
    pondra::test::fixViewLook();                                                                             \
    TestClass tc;                                                                                            \
    QTEST_SET_MAIN_SOURCE_PATH                                                                               \
    return QTest::qExec(&tc, argc, argv);

/// A Qt Test main for view tests: QApplication with the fixed look.
#define PONDRA_VIEW_TEST_MAIN(TestClass)                                                                     \
    int main(int argc, char** argv)                                                                          \
    {                                                                                                        \
        PONDRA_RUN_VIEW_TEST(TestClass)                                                                      \
    }

/// A Qt Test main for view tests on real X11 windows: a private Xvfb is the
/// display (its DISPLAY is in the environment, also for X clients such as
/// xdotool), on the xcb platform, with the fixed look.
#define PONDRA_XVFB_VIEW_TEST_MAIN(TestClass)                                                                \
    int main(int argc, char** argv)                                                                          \
    {                                                                                                        \
        pondra::test::XvfbServer xvfb;                                                                       \
        if (!xvfb.start())                                                                                   \
            qFatal("Xvfb did not start");                                                                    \
        qputenv("DISPLAY", xvfb.display().toLatin1());                                                       \
        qputenv("QT_QPA_PLATFORM", "xcb");                                                                   \
        PONDRA_RUN_VIEW_TEST(TestClass)                                                                      \
    }
