// The GPIO page: direction, output mode and standby mode of the eight lines,
// each a bit set shown as a row of check boxes, and the lines' levels.
#include "vnkestrix.h"

#include "check_box_bits.h"
#include "controller_link.h"
#include "parameter_catalogue.h"

namespace {

using GpioRow = CheckBoxRow<8>;

GpioRow directionRow(const Ui_VnKestrixClass &ui)
{
    return {ui.gpioDirection0CheckBox, ui.gpioDirection1CheckBox, ui.gpioDirection2CheckBox,
            ui.gpioDirection3CheckBox, ui.gpioDirection4CheckBox, ui.gpioDirection5CheckBox,
            ui.gpioDirection6CheckBox, ui.gpioDirection7CheckBox};
}

GpioRow outputModeRow(const Ui_VnKestrixClass &ui)
{
    return {ui.gpioOutputMode0CheckBox, ui.gpioOutputMode1CheckBox, ui.gpioOutputMode2CheckBox,
            ui.gpioOutputMode3CheckBox, ui.gpioOutputMode4CheckBox, ui.gpioOutputMode5CheckBox,
            ui.gpioOutputMode6CheckBox, ui.gpioOutputMode7CheckBox};
}

GpioRow standbyModeRow(const Ui_VnKestrixClass &ui)
{
    return {ui.gpioStanbdyMode0CheckBox, ui.gpioStanbdyMode1CheckBox, ui.gpioStanbdyMode2CheckBox,
            ui.gpioStanbdyMode3CheckBox, ui.gpioStanbdyMode4CheckBox, ui.gpioStanbdyMode5CheckBox,
            ui.gpioStanbdyMode6CheckBox, ui.gpioStanbdyMode7CheckBox};
}

GpioRow writeRow(const Ui_VnKestrixClass &ui)
{
    return {ui.writeGPIO0Check, ui.writeGPIO1Check, ui.writeGPIO2Check, ui.writeGPIO3Check,
            ui.writeGPIO4Check, ui.writeGPIO5Check, ui.writeGPIO6Check, ui.writeGPIO7Check};
}

GpioRow readRow(const Ui_VnKestrixClass &ui)
{
    return {ui.readGPIO0Check, ui.readGPIO1Check, ui.readGPIO2Check, ui.readGPIO3Check,
            ui.readGPIO4Check, ui.readGPIO5Check, ui.readGPIO6Check, ui.readGPIO7Check};
}

} // namespace

void VnKestrix::loadGpioSettings()
{
    std::uint8_t bits = 0;
    if (!getGpioDirection(bits))
        qFatal("getting GPIO direction failed");
    showBitsInCheckBoxes(bits, directionRow(ui));
    if (!getGpioOutputMode(bits))
        qFatal("getting GPIO output mode failed");
    showBitsInCheckBoxes(bits, outputModeRow(ui));
    if (!getGpioStandbyMode(bits))
        qFatal("getting GPIO standby mode failed");
    showBitsInCheckBoxes(bits, standbyModeRow(ui));
}

void VnKestrix::onGpioDirectionChange(int)
{
    if (!setGpioDirection(bitsFromCheckBoxes(directionRow(ui)), Ram))
        qFatal("setting GPIO direction failed");
}

void VnKestrix::onGpioOutputModeChange(int)
{
    if (!setGpioOutputMode(bitsFromCheckBoxes(outputModeRow(ui)), Ram))
        qFatal("setting the GPIO output mode failed");
}

void VnKestrix::onGpioStandbyModeChange(int)
{
    if (!setGpioStandbyMode(bitsFromCheckBoxes(standbyModeRow(ui)), Ram))
        qFatal("setting the GPIO standby mode failed");
}

void VnKestrix::onSaveGpioSettingsButton()
{
    if (!setGpioDirection(bitsFromCheckBoxes(directionRow(ui)), Flash))
        qFatal("setting GPIO direction failed");
    if (!setGpioOutputMode(bitsFromCheckBoxes(outputModeRow(ui)), Flash))
        qFatal("setting the GPIO output mode failed");
    if (!setGpioStandbyMode(bitsFromCheckBoxes(standbyModeRow(ui)), Flash))
        qFatal("setting the GPIO standby mode failed");
    showSavedToFlash();
}

void VnKestrix::onWriteGpioButton()
{
    if (!writeGpio(bitsFromCheckBoxes(writeRow(ui))))
        qFatal("writing GPIO failed");
}

void VnKestrix::onReadGpioButton()
{
    std::uint8_t levels = 0;
    bool flagBit1 = false;
    bool flagBit5 = false;
    if (!readGpio(levels, flagBit1, flagBit5))
        qFatal("reading GPIO failed");
    showBitsInCheckBoxes(levels, readRow(ui));
}
