#pragma once

#include <QImage>
#include <QWidget>

#include <optional>

namespace pondra {

class FilledButton;

/// The card that tells the user a teammate is ringing: the caller's photo
/// (or the placeholder), the name, and one green "Sure!". It has no decline:
/// an unanswered ring is declined by the ring manager.
class RingRequestView final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int cardWidth = 180;
    static constexpr int padding = 12;
    static constexpr int photoSide = 100;

    explicit RingRequestView(QWidget* parent = nullptr);

    void setRing(const QString& senderName, const std::optional<QImage>& photo);
    QString senderName() const { return m_name; }
    FilledButton* acceptButton() const { return m_accept; }

    QSize sizeHint() const override;

Q_SIGNALS:
    /// "Sure!" was pressed (once per press).
    void accepted();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int nameHeight() const;

    QString m_name;
    std::optional<QImage> m_photo;
    FilledButton* m_accept = nullptr;
};

} // namespace pondra
