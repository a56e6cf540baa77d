#include "ui/kit/ChoiceBox.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace pondra {

void fillChoices(QComboBox& box, const QList<Choice>& choices, const QVariant& selected)
{
    const QSignalBlocker blocker(&box);
    bool same = box.count() == choices.size();
    for (int i = 0; same && i < box.count(); ++i)
        same = box.itemText(i) == choices[i].text && box.itemData(i) == choices[i].value;
    if (!same) {
        box.clear();
        for (const Choice& choice : choices)
            box.addItem(choice.text, choice.value);
    }
    box.setCurrentIndex(box.findData(selected));
}

} // namespace pondra
