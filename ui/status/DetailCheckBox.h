#pragma once

#include <QCheckBox>
#include <QFont>

namespace pondra {

/**
 * A check box with a second, quieter line under its text that belongs to the
 * box: a click on it ticks the box, and a screen reader reads it with the box
 * (as its description). The second line is plain text on one line, cut at
 * the tail when it does not fit, in the window text's secondary colour as the
 * palette has it when painting.
 */
class DetailCheckBox final : public QCheckBox
{
    Q_OBJECT
public:
    /// Between the box's text and the second line.
    static constexpr int lineSpacing = 2;

    explicit DetailCheckBox(const QString& text, QWidget* parent = nullptr);

    void setDetail(const QString& detail);
    QString detail() const { return m_detail; }
    void setDetailFont(const QFont& font);
    /// Where the second line is drawn: under the text, from its left edge to
    /// the box's right edge.
    QRect detailRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool hitButton(const QPoint& pos) const override;
    void paintEvent(QPaintEvent* event) override;

private:
    /// The style's look of the first line alone: the indicator and the text.
    QStyleOptionButton firstLineOption() const;
    QString shownDetail() const;

    QString m_detail;
    QFont m_detailFont;
};

} // namespace pondra
