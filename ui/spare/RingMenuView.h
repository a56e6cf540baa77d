#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QPushButton;

namespace pondra {

class ElidedLabel;

/**
 * A prompt to answer a ring: the ringer's photo (or the gray placeholder),
 * "<name> wants to chat!", and the buttons "Maybe Later" and "Sure!", which
 * run the injected actions. 250 pixels wide. Nothing in the program shows it.
 */
class RingMenuView final : public QWidget
{
    Q_OBJECT
public:
    static constexpr int panelWidth = 250;
    static constexpr int photoSide = 100;
    static constexpr int photoRadius = 12;
    static constexpr int buttonLabelWidth = 100;
    static constexpr int padding = 16;
    static constexpr int buttonSpacing = 16;
    /// The two buttons share the width inside the padding, so the pair is
    /// centred; each still holds its label's 100 pixels.
    static constexpr int buttonWidth = (panelWidth - 2 * padding - buttonSpacing) / 2;
    static_assert(buttonWidth >= buttonLabelWidth);

    /// Either action may be empty: its button is drawn and does nothing.
    RingMenuView(const QString& senderName, std::optional<QImage> photo, std::function<void()> onAccept,
                 std::function<void()> onDecline, QWidget* parent = nullptr);

    /// The sender's name followed by " wants to chat!".
    static QString title(const QString& senderName);

    QPushButton* laterButton() const { return m_later; }
    QPushButton* sureButton() const { return m_sure; }

private:
    std::function<void()> m_onAccept;
    std::function<void()> m_onDecline;
    QPushButton* m_later = nullptr;
    QPushButton* m_sure = nullptr;
};

} // namespace pondra
