// The Guard page: the guard service's trigger table, a level and an action
// for each of ten lines, kept in the registry and saved on request only.
#include "vnkestrix.h"

#include "combo_items.h"
#include "installed_guard_service.h"
#include "registry_api.h"
#include "translated_text.h"

#include <QMessageBox>

#include <string>

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

// The registry box's own text, then the store and what went wrong with it;
// for a user who may not write the store, the cause names the group to join.
void showStoreError(QWidget *window, const QString &what, long error, bool writing)
{
    const QString message
        = what + QStringLiteral("\n\n") + QString::fromStdString(guardStoreName() + ": " + guardStoreCause(error, writing));
    QMessageBox::critical(window, uiText("Windows Registry error"), message);
}

// vnkestrix-guardd follows the store and takes a saved table at once;
// elsewhere the service that reads the table must be restarted.
QString savedTableText()
{
    if (guardServiceInstalled())
        return uiText("Your settings were saved to disk.\n\nThe guard service (vnkestrix-guardd) applies them at once.");
    return uiText("Your settings were saved to disk\n\n However, the settings will not be applied until the "
                  "Vantrel Brivane Service is restarted.");
}

QString keyNotOpenedText()
{
    return uiText("The registry key for the application could not be created/opened.");
}

} // namespace

// Looking changes nothing: read access only, so that a user who may read the
// store but not write it sees its table, and a missing store is not made. A
// store that cannot be read shows the defaults, and says so: the user then
// knows that a save writes the table as shown, not the one in the store.
void VnKestrix::loadGuardSettings()
{
    loadedGuardTable = GuardTable{};
    long error = ERROR_SUCCESS;
    const bool read = readGuardTable(loadedGuardTable, &error) == GuardResult::Ok;
    if (!read)
        loadedGuardTable = GuardTable{}; // a read that failed half-way shows none of it
    showNumbers(levelCombos(ui), loadedGuardTable.levels);
    showNumbers(actionCombos(ui), loadedGuardTable.actions);
    if (!read)
        showStoreError(this, keyNotOpenedText(), error, false);
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
    long error = ERROR_SUCCESS;
    switch (saveGuardTable(table, &error)) {
    case GuardResult::Ok:
        QMessageBox::information(this, uiText("Settings saved"), savedTableText());
        break;
    case GuardResult::KeyNotOpened:
        showStoreError(this, keyNotOpenedText(), error, true);
        break;
    case GuardResult::ReadFailed: // a save reads nothing
    case GuardResult::WriteFailed:
        showStoreError(this, uiText("The registry values could not be written."), error, true);
        break;
    }
}
