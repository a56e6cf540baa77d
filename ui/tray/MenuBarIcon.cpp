#include "ui/tray/MenuBarIcon.h"

#include "capture/CameraCapture.h"
#include "platform/core/Resources.h"
#include "ui/kit/Glyphs.h"

#include <QFile>
#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

#include <cmath>

namespace pondra {

namespace {

/// The drawing scaled to fit a square of `side` pixels, centred.
QImage render(QSvgRenderer& renderer, int side)
{
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSizeF size = renderer.viewBoxF().size();
    if (size.isEmpty())
        size = QSizeF(renderer.defaultSize());
    size.scale(side, side, Qt::KeepAspectRatio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF((side - size.width()) / 2, (side - size.height()) / 2), size));
    painter.end();
    return image;
}

// The contrast of two colours as their relative luminances' ratio, 1 to 21.
double contrast(const QColor& a, const QColor& b)
{
    const auto luminance = [](const QColor& c) {
        const auto linear = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

/// One of our symbols as an icon: named after its installed symbolic icon,
/// and drawn in one colour, the palette's of the moment it is drawn, at any
/// size.
class SymbolEngine final : public QIconEngine
{
public:
    SymbolEngine(QString name, QByteArray drawing, std::optional<QColor> background)
        : m_name(std::move(name)), m_drawing(std::move(drawing)), m_background(background)
    {
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        if (size.isEmpty())
            return QPixmap();
        QSvgRenderer renderer(m_drawing);
        QImage image = render(renderer, std::min(size.width(), size.height()));
        QPainter painter(&image);
        // Only the shape's coverage stays, in the one colour.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), MenuBarIcon::ink(QGuiApplication::palette(), m_background));
        painter.end();
        return QPixmap::fromImage(std::move(image));
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const int side = std::min(rect.width(), rect.height());
        painter->drawPixmap(QRect(rect.center() - QPoint(side / 2, side / 2), QSize(side, side)),
                            pixmap(QSize(side, side), mode, state));
    }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min(size.width(), size.height());
        return QSize(side, side);
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> out;
        for (int side : MenuBarIcon::sizes)
            out.append(QSize(side, side));
        return out;
    }
    QString iconName() override { return m_name; }
    QString key() const override { return QStringLiteral("pondra-symbol"); }
    QIconEngine* clone() const override { return new SymbolEngine(*this); }

private:
    QString m_name;
    QByteArray m_drawing;
    std::optional<QColor> m_background;
};

} // namespace

MenuBarIcon::MenuBarIcon(CameraCapture& cameraCapture, Locator locate, QObject* parent)
    : QObject(parent), m_locate(locate ? std::move(locate) : Locator(&resourcePath))
{
    // Every assignment reloads, also of an unchanged mode: the files are read
    // afresh each time, so a repaired installation shows at the next change.
    m_subscription = cameraCapture.isPondraMode.subscribe(this, [this](bool isPondraMode) {
        m_isPondraMode = isPondraMode;
        reload();
    });
}

void MenuBarIcon::setPanelBackground(std::optional<QColor> colour)
{
    if (colour == m_panelBackground)
        return;
    m_panelBackground = colour;
    reload();
}

void MenuBarIcon::reload()
{
    m_icon = load(m_isPondraMode, m_locate, m_panelBackground);
    Q_EMIT iconChanged(m_icon);
}

QColor MenuBarIcon::ink(const QPalette& palette, std::optional<QColor> background)
{
    const QColor text = palette.color(QPalette::WindowText);
    if (!background)
        return text;
    const QColor window = palette.color(QPalette::Window);
    return contrast(window, *background) > contrast(text, *background) ? window : text;
}

QString MenuBarIcon::fileName(bool isPondraMode)
{
    return isPondraMode ? QStringLiteral("message-circle-heart.svg")
                        : QStringLiteral("message-circle-dashed.svg");
}

QString MenuBarIcon::symbolName(bool isPondraMode)
{
    return isPondraMode ? QStringLiteral("org.pondra.Pondra-present-symbolic")
                        : QStringLiteral("org.pondra.Pondra-away-symbolic");
}

QIcon MenuBarIcon::load(bool isPondraMode, const Locator& locate, std::optional<QColor> background)
{
    const QString path = locate(fileName(isPondraMode));
    if (path.isEmpty())
        return fallback();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fallback();
    QByteArray drawing = file.readAll();
    if (!QSvgRenderer(drawing).isValid())
        return fallback();
    return QIcon(new SymbolEngine(symbolName(isPondraMode), std::move(drawing), background));
}

QIcon MenuBarIcon::fallback()
{
    QIcon icon;
    for (int side : sizes) {
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        // A light bubble inside a dark one: the dark rim shows on light
        // panels, the light body on dark ones.
        const QRectF square(0, 0, side, side);
        const int inset = std::max(2, side / 8);
        glyphs::paint(painter, Glyph::messageFill, square, side, QColor(0x1d, 0x1d, 0x1f));
        glyphs::paint(painter, Glyph::messageFill, square, side - inset, QColor(0xf5, 0xf5, 0xf7));
        painter.end();
        icon.addPixmap(QPixmap::fromImage(std::move(image)));
    }
    return icon;
}

} // namespace pondra
