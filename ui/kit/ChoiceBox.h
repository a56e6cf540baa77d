#pragma once

#include <QComboBox>
#include <QList>
#include <QString>
#include <QVariant>

namespace pondra {

/// One entry of a drop-down list: what it shows and the value it stands for.
struct Choice
{
    QString text;
    QVariant value;
    bool operator==(const Choice&) const = default;
};

/**
 * A drop-down list that changes only when the user picks an entry: with the
 * mouse in its list, or with the keyboard once it has the focus. A turn of
 * the mouse wheel over it never changes it and never gives it the focus: the
 * wheel goes on to what is around it, so scrolling a window past a picker
 * cannot move the user to another team or camera by accident.
 */
class ChoiceBox final : public QComboBox
{
    Q_OBJECT
public:
    explicit ChoiceBox(QWidget* parent = nullptr);

    /// Fills the box with `choices` (only when they differ from its entries)
    /// and selects the one whose value is `selected`, or none when no entry
    /// has it. Emits nothing: a box selects its first entry by itself when
    /// filled, and only the user's pick may write.
    void setChoices(const QList<Choice>& choices, const QVariant& selected);

Q_SIGNALS:
    /// The user picked the entry that stands for `value`.
    void chosen(const QVariant& value);

protected:
    void wheelEvent(QWheelEvent* event) override;
};

} // namespace pondra
