#pragma once

#include "ui/main/MainWindowModels.h"

#include <QImage>
#include <QWidget>

#include <optional>

namespace pondra {

/// The main window's photo: a square of at most 200 px, the camera
/// placeholder without a photo, the badge of state marks at the top right
/// (drawn, empty, also when no mark applies), the photo's time at the bottom
/// right and the bad-photo notice in the middle.
class MainPhotoView final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int maxSide = 200;

    explicit MainPhotoView(QWidget* parent = nullptr);

    void setPhoto(const std::optional<QImage>& photo);
    void setBadge(const QList<PhotoBadgeMark>& marks);
    void setPhotoTime(const std::optional<QString>& text);
    /// 0 hides the notice; between 0 and 1 it is fading.
    void setNoticeOpacity(qreal opacity);
    qreal noticeOpacity() const { return m_noticeOpacity; }

    /// Where the square, the badge, the time and the notice are drawn (for pixel probes).
    QRectF squareRect() const;
    QRectF badgeRect() const;
    QRectF timeRect() const;
    QRectF noticeRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QImage> m_photo;
    QList<PhotoBadgeMark> m_badge;
    std::optional<QString> m_photoTime;
    qreal m_noticeOpacity = 0;
};

} // namespace pondra
