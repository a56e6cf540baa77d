#include "ui/tray/MenuBarIcon.h"

#include "capture/CameraCapture.h"
#include "platform/core/Resources.h"
#include "ui/kit/Glyphs.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

namespace pondra {

namespace {

/// The drawing scaled to fit a square of `side` pixels, centred.
QPixmap render(QSvgRenderer& renderer, int side)
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
    return QPixmap::fromImage(std::move(image));
}

} // namespace

MenuBarIcon::MenuBarIcon(CameraCapture& cameraCapture, Locator locate, QObject* parent)
    : QObject(parent), m_locate(locate ? std::move(locate) : Locator(&resourcePath))
{
    // Every assignment reloads, also of an unchanged mode: the files are read
    // afresh each time, so a repaired installation shows at the next change.
    m_subscription = cameraCapture.isPondraMode.subscribe(this, [this](bool isPondraMode) {
        m_icon = load(isPondraMode, m_locate);
        Q_EMIT iconChanged(m_icon);
    });
}

QString MenuBarIcon::fileName(bool isPondraMode)
{
    return isPondraMode ? QStringLiteral("message-circle-heart.svg")
                        : QStringLiteral("message-circle-dashed.svg");
}

QIcon MenuBarIcon::load(bool isPondraMode, const Locator& locate)
{
    const QString path = locate(fileName(isPondraMode));
    if (path.isEmpty())
        return fallback();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fallback();
    QSvgRenderer renderer(file.readAll());
    if (!renderer.isValid())
        return fallback();
    QIcon icon;
    for (int side : sizes)
        icon.addPixmap(render(renderer, side));
    return icon;
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
