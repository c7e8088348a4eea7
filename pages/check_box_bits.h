// Bit sets shown as rows of check boxes: box i stands for bit i.
#pragma once

#include <QCheckBox>

#include <array>
#include <cstdint>

template <std::size_t N>
using CheckBoxRow = std::array<QCheckBox *, N>;

template <std::size_t N>
std::uint8_t bitsFromCheckBoxes(const CheckBoxRow<N> &row)
{
    std::uint8_t bits = 0;
    for (std::size_t i = 0; i < N; ++i) {
        if (row[i]->isChecked())
            bits = static_cast<std::uint8_t>(bits | (1u << i));
    }
    return bits;
}

// Signals stay blocked while a box is set, so showing a value never writes
// it back to the controller.
template <std::size_t N>
void showBitsInCheckBoxes(std::uint8_t bits, const CheckBoxRow<N> &row)
{
    for (std::size_t i = 0; i < N; ++i) {
        row[i]->blockSignals(true);
        row[i]->setChecked((bits >> i) & 1u);
        row[i]->blockSignals(false);
    }
}
