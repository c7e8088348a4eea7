// The Misc page: serial number, interrupt-in reporting, S3 signalling, the
// THRM pin and the firmware revision.
#include "vnkestrix.h"

#include "blocked_signals.h"
#include "combo_items.h"
#include "parameter_catalogue.h"
#include "serial_number_rules.h"
#include "translated_text.h"

#include <QMessageBox>

#include <algorithm>

void VnKestrix::loadMiscSettings()
{
    // The serial number first: reading it refreshes the device record that
    // the firmware revision comes from.
    std::string serial;
    if (!getSerialNumber(serial))
        qFatal("getting serial number failed");
    const QString read = QString::fromLatin1(serial.data(), static_cast<qsizetype>(serial.size()));
    if (serialNumberIsLive())
        knownSerialNumber = read;
    // The plug-in record does not show a number this window wrote since.
    showSerialNumber(knownSerialNumber.value_or(read));

    std::uint8_t reportMode = 0;
    if (!getReportMode(reportMode))
        qFatal("getting report mode failed");
    setWithoutSignals(ui.reportModeCombo,
                      [&](QComboBox *c) { c->setCurrentIndex(comboIndexFor(c, reportMode)); });

    std::uint16_t sampleRate = 0;
    if (!getSampleRate(sampleRate))
        qFatal("getting sample rate failed");
    setWithoutSignals(ui.samplingRateSpinBox, [&](QSpinBox *s) { s->setValue(sampleRate); });

    std::uint8_t s3Mode = 0;
    if (!getS3SignalizationMode(s3Mode))
        qFatal("getting S3 signalization mode failed");
    setWithoutSignals(ui.s3SignalizationModeCombo,
                      [&](QComboBox *c) { c->setCurrentIndex(comboIndexFor(c, s3Mode)); });

    ui.firmwareRevisionLabel->setText(
        QString::asprintf("Firmware revision: %s", getFirmwareRevision().c_str()));
}

void VnKestrix::onReportModeChange(int reportMode)
{
    if (!setReportMode(static_cast<std::uint8_t>(reportMode), Ram))
        qFatal("setting report mode failed");
}

void VnKestrix::onSamplingRateChange()
{
    if (!setSampleRate(static_cast<std::uint16_t>(ui.samplingRateSpinBox->value()), Ram))
        qFatal("setting sample rate failed");
}

void VnKestrix::onS3SignalizationModeChange(int sigMode)
{
    if (!setS3SignalizationMode(static_cast<std::uint8_t>(sigMode), Ram))
        qFatal("setting the S3 signalization mode failed");
}

// A number that does not fit the field is shown whole, never cut: a cut
// number would look like the controller's, and a bare Return would write it.
void VnKestrix::showSerialNumber(const QString &text)
{
    shownSerialNumber = text;
    setWithoutSignals(ui.serialEdit, [&](QLineEdit *e) {
        e->setMaxLength(std::max(static_cast<int>(maxSerialNumberCharacters),
                                 static_cast<int>(text.size())));
        e->setText(text); // and the field counts as unedited
    });
}

void VnKestrix::onSerialChange()
{
    const QString text = ui.serialEdit->text();
    // Only what the user typed is written: the field may hold a number from
    // the plug-in record, stale or too long, that must not reach flash just
    // because the user pressed Return or passed through. Flash survives a
    // limited number of writes, so the number the controller is known to
    // hold is not written again; a number that may be stale never stops a
    // write.
    if (!ui.serialEdit->isModified() || text == knownSerialNumber)
        return;
    const std::optional<std::string> latin1 = storableSerialNumber(text.toUtf8().toStdString());
    if (!latin1) {
        // Put the number back before the box takes the focus, so the focus
        // change that follows finds nothing to write.
        showSerialNumber(shownSerialNumber);
        QMessageBox::warning(this, uiText("Serial Number"),
                             uiText("The serial number must be 1 to 9 characters long and use "
                                    "only printable Latin-1 characters."));
        return;
    }
    if (!setSerialNumber(*latin1))
        qFatal("setting serial number failed");
    knownSerialNumber = text;
    showSerialNumber(text);
}

void VnKestrix::onResetThrmPinButtonClicked()
{
    if (!resetThrmPin())
        qFatal("resetting the THRM pin failed");
}

// A combo without a current item stands for a mode the controller holds but
// the page cannot show. Saving leaves that mode as it is: "no item" is no
// mode at all, and sending it would stop the program.
void VnKestrix::onSaveMiscSettingsClicked()
{
    const int reportMode = ui.reportModeCombo->currentIndex();
    if (reportMode >= 0 && !setReportMode(static_cast<std::uint8_t>(reportMode), Flash))
        qFatal("setting report mode failed");
    if (!setSampleRate(static_cast<std::uint16_t>(ui.samplingRateSpinBox->value()), Flash))
        qFatal("setting sample rate failed");
    const int s3Mode = ui.s3SignalizationModeCombo->currentIndex();
    if (s3Mode >= 0 && !setS3SignalizationMode(static_cast<std::uint8_t>(s3Mode), Flash))
        qFatal("setting the S3 signalization mode failed");
    showSavedToFlash();
}
