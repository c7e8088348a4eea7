// The Watchdog page: mode, start-up delay, strobe interval, the events that
// serve the watchdog, and the two watchdog actions.
#include "vnkestrix.h"

#include "blocked_signals.h"
#include "check_box_bits.h"
#include "combo_items.h"
#include "parameter_catalogue.h"

namespace {

// Box i stands for bit i of the serve-source byte; the boxes sit on screen
// in another order (Interrupt Out, Feature Report / USB Host Polling, SCH GPIO).
CheckBoxRow<4> sourceBoxes(const Ui_VnKestrixClass &ui)
{
    return {ui.sourceInterruptOutCheckBox, ui.sourceFeatureReportCheckBox,
            ui.sourceUsbPollingCheckBox, ui.sourceSchGpioCheckBox};
}

} // namespace

void VnKestrix::loadWatchdogSettings()
{
    std::uint8_t mode = 0;
    if (!getWatchdogMode(mode))
        qFatal("Getting the watchdog mode failed");
    setWithoutSignals(ui.watchdogModeCombo,
                      [&](QComboBox *c) { c->setCurrentIndex(comboIndexFor(c, mode)); });

    float delay = 0;
    if (!getWatchdogDelay(delay))
        qFatal("getting watchdog delay failed");
    setWithoutSignals(ui.watchdogDelaySpinBox, [&](QDoubleSpinBox *s) { s->setValue(delay); });

    float strobe = 0;
    if (!getWatchdogStrobe(strobe))
        qFatal("getting watchdog strobe failed");
    setWithoutSignals(ui.watchdogStrobeSpinBox, [&](QDoubleSpinBox *s) { s->setValue(strobe); });

    std::uint8_t sources = 0;
    if (!getWatchdogSources(sources))
        qFatal("getting watchdog sources failed");
    showBitsInCheckBoxes(sources, sourceBoxes(ui));
}

std::uint8_t VnKestrix::watchdogSourcesFromCheckBoxes() const
{
    return bitsFromCheckBoxes(sourceBoxes(ui));
}

void VnKestrix::onWatchDogModeChange(int state)
{
    if (!setWatchdogMode(static_cast<std::uint8_t>(state), Ram))
        qFatal("Setting the watchdog mode failed");
}

void VnKestrix::onWatchDogDelayChange()
{
    if (!setWatchdogDelay(static_cast<float>(ui.watchdogDelaySpinBox->value()), Ram))
        qFatal("setting watchdog delay failed");
}

void VnKestrix::onWatchDogStrobeChange()
{
    if (!setWatchdogStrobe(static_cast<float>(ui.watchdogStrobeSpinBox->value()), Ram))
        qFatal("setting watchdog strobe failed");
}

void VnKestrix::onWatchDogSourceChange()
{
    if (!setWatchdogSources(watchdogSourcesFromCheckBoxes(), Ram))
        qFatal("setting watchdog sources failed");
}

void VnKestrix::onServeWatchdogButton()
{
    if (!serveWatchdog())
        qFatal("Serve watchdog failed");
}

void VnKestrix::onResetWatchdogButton()
{
    if (!resetWatchdogPin())
        qFatal("reset watchdog pin failed");
}

void VnKestrix::onSaveWatchdogSettingsButton()
{
    // A mode the combo cannot show was read from the controller and is left
    // as the controller has it; the other values are still saved.
    const int mode = ui.watchdogModeCombo->currentIndex();
    if (mode >= 0 && !setWatchdogMode(static_cast<std::uint8_t>(mode), Flash))
        qFatal("Setting the watchdog mode failed");
    if (!setWatchdogDelay(static_cast<float>(ui.watchdogDelaySpinBox->value()), Flash))
        qFatal("setting watchdog delay failed");
    if (!setWatchdogStrobe(static_cast<float>(ui.watchdogStrobeSpinBox->value()), Flash))
        qFatal("setting watchdog strobe failed");
    if (!setWatchdogSources(watchdogSourcesFromCheckBoxes(), Flash))
        qFatal("setting watchdog sources failed");
    showSavedToFlash();
}
