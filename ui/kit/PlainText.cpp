#include "ui/kit/PlainText.h"

#include <QPainter>
#include <QStyle>
#include <QTextBoundaryFinder>

namespace pondra {

namespace plainText {

namespace {
bool breaksTheLine(QChar c)
{
    const QChar::Category category = c.category();
    return category == QChar::Other_Control || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph;
}

/// Length in code units of the first `clusters` grapheme clusters.
qsizetype prefixOfClusters(const QString& text, int clusters)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int seen = 0;
    qsizetype position = 0;
    while (seen < clusters) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text.size();
        position = next;
        ++seen;
    }
    return position;
}
} // namespace

QString oneLine(const QString& text)
{
    QString line = text;
    for (QChar& c : line) {
        if (breaksTheLine(c))
            c = QLatin1Char(' ');
    }
    // A cluster is at least one code unit, so a short text needs no counting.
    if (line.size() > maxClusters)
        line.truncate(prefixOfClusters(line, maxClusters));
    return line;
}

int clusterCount(const QString& text, int limit)
{
    if (text.isEmpty() || limit <= 0)
        return 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (count < limit && finder.toNextBoundary() >= 0)
        ++count;
    return count;
}

} // namespace plainText

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setPeerText(const QString& text)
{
    setText(plainText::oneLine(text));
}

QSize ElidedLabel::minimumSizeHint() const
{
    return QSize(0, QLabel::minimumSizeHint().height());
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    style()->drawItemText(&painter, area, int(alignment()) | Qt::TextSingleLine, palette(), isEnabled(),
                          shown, foregroundRole());
}

} // namespace pondra
