#pragma once

#include <QColor>
#include <QDateTime>
#include <QImage>
#include <QPointer>
#include <QStaticText>
#include <QWidget>

#include <functional>
#include <optional>

namespace pondra {

class FrameTicker;
class WindowSight;

/// A one-line text that scrolls from right to left at 25 px/s when it has 20
/// or more grapheme clusters, in an endless loop whose position is a pure
/// function of the clock; shorter texts stand still, cut at the tail.
class MarqueeText final : public QWidget
{
    Q_OBJECT
public:
    static constexpr double speed = 25;
    static constexpr int scrollingClusters = 20;
    /// What lies beneath the text.
    struct Backdrop
    {
        /// Paints it, in window coordinates, within the rectangle given.
        std::function<void(QPainter&, const QRect&)> paint;
        /// Changes whenever what `paint` paints changes.
        std::function<qint64()> key;

        explicit operator bool() const { return bool(paint); }
    };

    MarqueeText(FrameTicker& ticker, QWidget* parent = nullptr);
    ~MarqueeText() override;

    /// Shows `text` as a peer text (one line, plain).
    void setText(const QString& text);
    QString text() const { return m_text; }
    void setColour(const QColor& colour);
    QColor colour() const { return m_colour; }
    /// The text's opacity, for a swap that fades it (1 at rest).
    void setOpacity(qreal opacity);
    /// With a backdrop the text paints all of its rectangle itself, so the
    /// window's panel and row beneath are not painted again at every step;
    /// where the backdrop is one colour along each line, a step only copies
    /// the visible part of the line drawn once over it.
    void setBackdrop(Backdrop backdrop);
    bool isScrolling() const { return m_scrolls; }
    /// The measured width of the laid-out text.
    int textWidth() const { return m_textWidth; }

    /// 20 grapheme clusters or more scroll, whether or not the text fits.
    static bool scrolls(const QString& text);
    /// Seconds since 2001-01-01T00:00:00Z.
    static double referenceSeconds(const QDateTime& moment);
    /// Where the text's leading edge stands at `seconds` (since the reference
    /// date) in a box `width` wide: from `width` down to −`textWidth` each cycle.
    static double offset(double seconds, double width, double textWidth);
    /// The whole-pixel position drawn now.
    int currentOffset() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    /// What the drawn line depends on besides the text and the font.
    struct StripKey
    {
        QSize size;
        QPoint origin;
        QColor colour;
        qint64 backdrop = 0;
        QImage::Format format = QImage::Format_Invalid;
        bool cleared = false;

        bool operator==(const StripKey&) const = default;
    };

    int offsetAt(qint64 msSinceEpoch) const;
    int textTop() const;
    bool copyFromStrip(QImage& target, QPoint at, const QRegion& region, bool inBackingStore);
    void drawStrip(const StripKey& key);
    std::optional<qint64> nextStep(qint64 nowMs) const;
    std::optional<qint64> onStep();
    void relayout();
    void renderLine();
    void updateTicking();

    FrameTicker& m_ticker;
    QPointer<WindowSight> m_sight;
    Backdrop m_backdrop;
    QString m_text;
    QColor m_colour;
    qreal m_opacity = 1;
    bool m_hasText = false;
    bool m_scrolls = false;
    int m_textWidth = 0;
    /// The scrolling text, laid out once per change.
    QStaticText m_line;
    QString m_elided;
    int m_drawnOffset = 0;
    /// The line over its backdrop, a box's width of backdrop on either side:
    /// null where the backdrop does not allow it.
    QImage m_strip;
    std::optional<StripKey> m_stripKey;
};

} // namespace pondra
