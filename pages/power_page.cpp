// The Power Management page: the power-settings byte as a boot-mode combo
// and four check boxes.
#include "vnkestrix.h"

#include "blocked_signals.h"
#include "combo_items.h"
#include "parameter_catalogue.h"

namespace {

constexpr std::uint8_t bootModeMask = 0x03;
constexpr std::uint8_t restartAfterPowerFailureBit = 0x04;
constexpr std::uint8_t restartAfterTempFailureBit = 0x08;
// One bit, two views: it enables the USB-to-SATA bridge on one board and the
// 5V booster on the other, so "disable bridge" and "enable booster" always
// show opposite states.
constexpr std::uint8_t boardOptionBit = 0x10;

void setChecked(QCheckBox *box, bool checked)
{
    setWithoutSignals(box, [&](QCheckBox *b) { b->setChecked(checked); });
}

} // namespace

void VnKestrix::loadPowerSettings()
{
    std::uint8_t settings = 0;
    if (!getPowerSettings(settings))
        qFatal("getting the power management setting failed");
    loadedPowerSettings = settings;
    setWithoutSignals(ui.bootModeCombo, [&](QComboBox *c) {
        c->setCurrentIndex(comboIndexFor(c, settings & bootModeMask));
    });
    setChecked(ui.restartAfterPowerFailureCheckBox, settings & restartAfterPowerFailureBit);
    setChecked(ui.restartAfterTempFailureCheckBox, settings & restartAfterTempFailureBit);
    setChecked(ui.disableUsbToSataBridgeCheckBox, !(settings & boardOptionBit));
    setChecked(ui.enable5vBoosterCheckBox, settings & boardOptionBit);
}

void VnKestrix::writePowerSettings(Target target)
{
    // A boot mode the combo has no item for is written back as it was read.
    const int bootMode = ui.bootModeCombo->currentIndex();
    std::uint8_t settings = bootMode >= 0 ? static_cast<std::uint8_t>(bootMode)
                                          : static_cast<std::uint8_t>(loadedPowerSettings & bootModeMask);
    if (ui.restartAfterPowerFailureCheckBox->isChecked())
        settings |= restartAfterPowerFailureBit;
    if (ui.restartAfterTempFailureCheckBox->isChecked())
        settings |= restartAfterTempFailureBit;
    if (!ui.disableUsbToSataBridgeCheckBox->isChecked() || ui.enable5vBoosterCheckBox->isChecked())
        settings |= boardOptionBit;
    if (!setPowerSettings(settings, target))
        qFatal("saving the power management settings failed");
}

void VnKestrix::onBootModeChanged(int)
{
    writePowerSettings(Ram);
}

void VnKestrix::onRestartAfterPowerFailureChecked(int)
{
    writePowerSettings(Ram);
}

void VnKestrix::onRestartAfterTempFailureChecked(int)
{
    writePowerSettings(Ram);
}

void VnKestrix::onDisableSataToUsbBridgeCheck(int)
{
    setChecked(ui.enable5vBoosterCheckBox, !ui.disableUsbToSataBridgeCheckBox->isChecked());
    writePowerSettings(Ram);
}

void VnKestrix::onEnable5VBoosterCheck(int)
{
    setChecked(ui.disableUsbToSataBridgeCheckBox, !ui.enable5vBoosterCheckBox->isChecked());
    writePowerSettings(Ram);
}

void VnKestrix::onSavePowerSettingsClicked()
{
    writePowerSettings(Flash);
    showSavedToFlash();
}
