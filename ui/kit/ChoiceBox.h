#pragma once

#include <QList>
#include <QString>
#include <QVariant>

class QComboBox;

namespace pondra {

/// One entry of a drop-down list: what it shows and the value it stands for.
struct Choice
{
    QString text;
    QVariant value;
    bool operator==(const Choice&) const = default;
};

/// Fills `box` with `choices` (only when they differ from its entries) and
/// selects the one whose value is `selected`, or none when no entry has it.
/// A box selects its first entry by itself when filled, so this runs with
/// the box's signals blocked: only the user's choice (`activated`) may write.
void fillChoices(QComboBox& box, const QList<Choice>& choices, const QVariant& selected);

} // namespace pondra
