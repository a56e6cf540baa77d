#include "ui/kit/ChoiceBox.h"

#include <QSignalBlocker>
#include <QWheelEvent>

namespace pondra {

ChoiceBox::ChoiceBox(QWidget* parent) : QComboBox(parent)
{
    // A combo box takes the focus on a wheel turn by default.
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QComboBox::activated, this, [this](int index) {
        const QVariant value = itemData(index);
        if (value.isValid())
            Q_EMIT chosen(value);
    });
}

void ChoiceBox::setChoices(const QList<Choice>& choices, const QVariant& selected)
{
    const QSignalBlocker blocker(this);
    bool same = count() == choices.size();
    for (int i = 0; same && i < count(); ++i)
        same = itemText(i) == choices[i].text && itemData(i) == choices[i].value;
    if (!same) {
        clear();
        for (const Choice& choice : choices)
            addItem(choice.text, choice.value);
    }
    setCurrentIndex(findData(selected));
}

void ChoiceBox::wheelEvent(QWheelEvent* event)
{
    // Ignored, the event goes on to the parents.
    event->ignore();
}

} // namespace pondra
