#pragma once

// What every test that draws views fixes, so pixel probes and gallery
// pictures come out the same on every machine: the DejaVu Sans font, the
// Fusion style, the C locale and a scale factor of 1.
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QLocale>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <QWidget>

#include <memory>

#include "ui/WindowFinder.h"

namespace pondra::test {

inline void fixViewLook()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(QApplication::style()->standardPalette());
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    QApplication::setFont(font);
    QLocale::setDefault(QLocale::c());
}

/// The widget drawn into an image with a transparent background.
inline QImage grabWidget(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren | QWidget::DrawWindowBackground);
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

/// Where gallery pictures go: "<build folder>/gallery".
inline QString galleryFolder()
{
    const QString root = qEnvironmentVariable("PONDRA_BINARY_DIR", QDir::currentPath());
    QDir().mkpath(root + QStringLiteral("/gallery"));
    return root + QStringLiteral("/gallery");
}

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

/// A Qt Test main for view tests: QApplication with the fixed look.
#define PONDRA_VIEW_TEST_MAIN(TestClass)                                                                     \
    int main(int argc, char** argv)                                                                          \
    {                                                                                                        \
        qputenv("QT_SCALE_FACTOR", "1");                                                                     \
        QApplication app(argc, argv);                                                                        \
        pondra::test::fixViewLook();                                                                         \
        TestClass tc;                                                                                        \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
