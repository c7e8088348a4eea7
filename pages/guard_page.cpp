// The Guard page: the guard service's trigger table, a level and an action
// for each of ten lines, kept in the registry and saved on request only.
#include "vnkestrix.h"

#include "combo_items.h"
#include "translated_text.h"

#include <QMessageBox>

namespace {

using GuardCombos = std::array<QComboBox *, guardLineCount>;

GuardCombos levelCombos(const Ui_VnKestrixClass &ui)
{
    return {ui.guardGPIO0ValueCombo, ui.guardGPIO1ValueCombo, ui.guardGPIO2ValueCombo,
            ui.guardGPIO3ValueCombo, ui.guardGPIO4ValueCombo, ui.guardGPIO5ValueCombo,
            ui.guardGPIO6ValueCombo, ui.guardGPIO7ValueCombo, ui.guardBatlowValueCombo,
            ui.guardPowerValueCombo};
}

GuardCombos actionCombos(const Ui_VnKestrixClass &ui)
{
    return {ui.guardGPIO0ActionCombo, ui.guardGPIO1ActionCombo, ui.guardGPIO2ActionCombo,
            ui.guardGPIO3ActionCombo, ui.guardGPIO4ActionCombo, ui.guardGPIO5ActionCombo,
            ui.guardGPIO6ActionCombo, ui.guardGPIO7ActionCombo, ui.guardBatlowActionCombo,
            ui.guardPowerActionCombo};
}

void showNumbers(const GuardCombos &combos, const std::array<std::uint32_t, guardLineCount> &numbers)
{
    for (std::size_t i = 0; i < combos.size(); ++i)
        combos[i]->setCurrentIndex(comboIndexFor(combos[i], numbers[i]));
}

// A combo with no current item holds a number the page cannot show; the
// service gets back the number it was given.
void takeNumbers(const GuardCombos &combos, std::array<std::uint32_t, guardLineCount> &numbers)
{
    for (std::size_t i = 0; i < combos.size(); ++i) {
        const int index = combos[i]->currentIndex();
        if (index >= 0)
            numbers[i] = static_cast<std::uint32_t>(index);
    }
}

} // namespace

void VnKestrix::loadGuardSettings()
{
    loadedGuardTable = GuardTable{};
    const GuardResult result = loadGuardTable(loadedGuardTable);
    showNumbers(levelCombos(ui), loadedGuardTable.levels);
    showNumbers(actionCombos(ui), loadedGuardTable.actions);
    if (result == GuardResult::KeyNotOpened)
        QMessageBox::critical(this, uiText("Windows Registry error"),
                              uiText("The registry key for the application could not be created/opened."));
}

void VnKestrix::onSaveGuardSettings()
{
    saveGuardSettings();
}

void VnKestrix::saveGuardSettings()
{
    GuardTable table = loadedGuardTable;
    takeNumbers(levelCombos(ui), table.levels);
    takeNumbers(actionCombos(ui), table.actions);
    switch (saveGuardTable(table)) {
    case GuardResult::Ok:
        QMessageBox::information(this, uiText("Settings saved"),
                                 uiText("Your settings were saved to disk\n\n However, the settings "
                                        "will not be applied until the Vantrel Brivane Service is "
                                        "restarted."));
        break;
    case GuardResult::KeyNotOpened:
        QMessageBox::critical(this, uiText("Windows Registry error"),
                              uiText("The registry key for the application could not be created/opened."));
        break;
    case GuardResult::ReadFailed: // a save reads nothing
    case GuardResult::WriteFailed:
        QMessageBox::critical(this, uiText("Windows Registry error"),
                              uiText("The registry values could not be written."));
        break;
    }
}
