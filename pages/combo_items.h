#pragma once

#include <QComboBox>

// The combo index that shows `value`, or -1 (no selection) when the combo has
// no item for it: a value the controller or the store holds is never shown
// as another one.
inline int comboIndexFor(const QComboBox *combo, unsigned long value)
{
    return value < static_cast<unsigned long>(combo->count()) ? static_cast<int>(value) : -1;
}
