#pragma once

#include <QLabel>
#include <QString>

namespace pondra {

namespace plainText {

/// The most grapheme clusters a peer's text is drawn with.
inline constexpr int maxClusters = 1000;

/// A text from a peer or another program as every view draws it: one line,
/// line breaks and control characters as spaces, at most the first 1,000
/// grapheme clusters. Draw the result as plain text only, never rich text.
QString oneLine(const QString& text);

/// Grapheme clusters (an emoji, a letter with its accents count once) of
/// `text`, counted only up to `limit`.
int clusterCount(const QString& text, int limit);

} // namespace plainText

/// A one-line label for texts from peers: plain text only, cut at the tail
/// with an ellipsis when it does not fit, and no wider than the space it gets.
class ElidedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    /// Shows `text` as `plainText::oneLine` makes it.
    void setPeerText(const QString& text);
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace pondra
