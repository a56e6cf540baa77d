#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

#include <optional>

namespace pondra {

/// Where the parts of the bubble go in its window; painting and tests read it.
struct CursorRingLayout
{
    /// The dark rounded panel, centred in the window.
    QRect bubble;
    /// The round photo.
    QRect avatar;
    /// The caller's name, cut with an ellipsis where it does not fit.
    QRect name;
    QString shownName;
    /// "is ringing…", under the name.
    QRect caption;
};

/**
 * The bubble beside the pointer while someone rings: the caller's round
 * photo (or a person symbol), the name and "is ringing…" on a dark panel as
 * wide as its content. The view fills its window and draws the content; the
 * window draws the panel behind it (translucent with a shadow where a
 * compositor runs, opaque inside the rounded shape where none does).
 */
class CursorRingView final : public QWidget
{
    Q_OBJECT
public:
    /// "is ringing…"
    static QString ringingText();

    CursorRingView(const QString& name, std::optional<QImage> photo, QWidget* parent = nullptr);

    const QString& name() const { return m_name; }
    const std::optional<QImage>& photo() const { return m_photo; }

    /// The layout of the bubble for a window of `windowSize`.
    static CursorRingLayout layoutFor(const QString& name, const QSize& windowSize);
    /// The layout in this view's current size.
    CursorRingLayout layout() const { return layoutFor(m_name, size()); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_name;
    std::optional<QImage> m_photo;
};

} // namespace pondra
