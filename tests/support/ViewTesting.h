#pragma once

// What every test that draws views fixes, so pixel probes and gallery
// pictures come out the same on every machine: the DejaVu Sans font, the
// Fusion style, the C locale and a scale factor of 1.
#include "TestEnvironment.h"
#include "XvfbServer.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QLocale>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <QWidget>

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
