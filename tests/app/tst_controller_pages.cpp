// The four controller pages, one table. Opening a page shows what the
// controller holds (demo values in demo mode) and writes nothing back; each
// user step then sends exactly its requests: one RAM write per change, one
// request per action, a save's flash writes in order followed by the
// "Information" box, and nothing for steps that change nothing.
#include "controller_link.h"
#include "controller_sim.h"
#include "modal_box_catcher.h"
#include "window_harness.h"

#include <QRegularExpression>

using namespace harness;
using P = sim::Param;

class ControllerPagesTest : public WindowTest
{
    Q_OBJECT

private slots:
    void openAndStep_data();
    void openAndStep();
};

void ControllerPagesTest::openAndStep_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<QString>("controller");
    QTest::addColumn<Step>("step");
    QTest::addColumn<QStringList>("sent");
    QTest::addColumn<QString>("page"); // empty: not checked
    const auto row = [](const char *tag, int tab, const QString &controller, const Step &step,
                        const QStringList &sent, const QString &page = {}) {
        QTest::newRow(tag) << tab << controller << step << sent << page;
    };

    const QString misc = "ram.report_mode=1 ram.sample_rate=300 ram.s3_mode=1";
    const Step saveMisc = click("saveMiscSettingsButton");
    row("Misc", MiscTab, misc + " serial=AB-7 release=0x0231", {}, {},
        "AB-7, After Change, 300 ms, S3 Signal Together With S5, Firmware revision: 2.31");
    row("Misc, modes without an item", MiscTab, "ram.report_mode=2 ram.s3_mode=255", {}, {},
        "SIM000001, , 50 ms, , Firmware revision: 1.0");
    row("Misc, demo", MiscTab, "demo " + misc, {}, {},
        "012345678, After Sampling, 512 ms, Normal, Firmware revision: 1.0");
    row("After Sampling", MiscTab, misc, press("reportModeCombo", Qt::Key_Up), {ram(P::ReportMode, 0)});
    row("Normal", MiscTab, misc, press("s3SignalizationModeCombo", Qt::Key_Up), {ram(P::S3Mode, 0)});
    row("rate 65535", MiscTab, misc, type("samplingRateSpinBox", "65535"), {ram(P::SampleRate, 65535)});
    row("rate, Return alone", MiscTab, misc, press("samplingRateSpinBox", Qt::Key_Return), {ram(P::SampleRate, 300)});
    row("reset THRM pin", MiscTab, misc, click("resetThrmPinButton"), {action(sim::Action::ResetThrmPin)});
    row("Misc save after an edit", MiscTab, misc, steps({press("reportModeCombo", Qt::Key_Up), saveMisc}),
        {ram(P::ReportMode, 0), flash(P::ReportMode, 0), flash(P::SampleRate, 300), flash(P::S3Mode, 1)});
    // A mode the combo has no item for stays as the controller holds it.
    row("Misc save, report mode 2", MiscTab, misc + " ram.report_mode=2", saveMisc,
        {flash(P::SampleRate, 300), flash(P::S3Mode, 1)});
    row("Misc save, S3 mode 9", MiscTab, misc + " ram.s3_mode=9", saveMisc,
        {flash(P::ReportMode, 1), flash(P::SampleRate, 300)});

    const QString gpio = "ram.gpio_output_mode=0x81 ram.gpio_standby_mode=0x3c input_levels=0xa5 status=0x22";
    const Step write = click("writeGpioButton");
    const Step read = click("readGpioButton");
    row("GPIO", GpioTab, "ram.gpio_direction=0x5a ram.gpio_output_mode=0x81 ram.gpio_standby_mode=0xff", {}, {},
        "5a 81 ff 00 00");
    row("GPIO, demo", GpioTab, "demo " + gpio, {}, {}, "00 00 00 00 00");
    row("direction 2 on", GpioTab, gpio, click("gpioDirection2CheckBox"), {ram(P::GpioDirection, 0xF4)});
    row("output mode 0 off", GpioTab, gpio, click("gpioOutputMode0CheckBox"), {ram(P::GpioOutputMode, 0x80)});
    row("standby mode 1 on", GpioTab, gpio, click("gpioStanbdyMode1CheckBox"), {ram(P::GpioStandbyMode, 0x3E)});
    row("write and read boxes", GpioTab, gpio, steps({click("writeGPIO3Check"), click("readGPIO4Check")}), {},
        "f0 81 3c 08 10");
    row("Write 0 and 7, then 3 too", GpioTab, gpio,
        steps({click("writeGPIO0Check"), click("writeGPIO7Check"), write, click("writeGPIO3Check"), write}),
        {"out 81", "out 89"});
    // The write row is no configuration: it stays out of the save.
    row("GPIO save after changes", GpioTab, gpio,
        steps({click("gpioDirection2CheckBox"), click("writeGPIO5Check"), click("saveGpioSettingsButton")}),
        {ram(P::GpioDirection, 0xF4), flash(P::GpioDirection, 0xF4), flash(P::GpioOutputMode, 0x81),
         flash(P::GpioStandbyMode, 0x3C)});
    // Read replaces the whole read row; the status flags change nothing.
    row("Read over boxes checked by hand", GpioTab, gpio,
        steps({click("readGPIO1Check"), click("readGPIO3Check"), read}), {"in"}, "f0 81 3c 00 a5");
    row("Read in demo mode", GpioTab, gpio,
        steps({click("readGPIO1Check"), [](QWidget *) { setDemoMode(true); }, read}), {}, "f0 81 3c 00 00");

    const Step saveWatchdog = click("saveWatchdogSettingsButton");
    row("Watchdog, sources 0x0A", WatchdogTab,
        "ram.watchdog_mode=1 ram.watchdog_delay=3000 ram.watchdog_strobe=13 ram.watchdog_sources=0x0a", {}, {},
        "Reset System, 300.0 s, 1.3 s, 0a");
    row("Watchdog, mode above 2", WatchdogTab, "ram.watchdog_mode=3", {}, {}, ", 120.0 s, 10.0 s, 03");
    row("Watchdog, demo", WatchdogTab, "demo ram.watchdog_mode=1", {}, {}, "Off, 51.2 s, 51.2 s, 00");
    row("USB Host Polling added to 0x0A", WatchdogTab, "ram.watchdog_sources=0x0a", click("sourceUsbPollingCheckBox"),
        {ram(P::WatchdogSources, 0x0E)});
    row("Show Only", WatchdogTab, "", press("watchdogModeCombo", Qt::Key_End), {ram(P::WatchdogMode, 2)});
    row("delay 300, Return, focus out", WatchdogTab, "",
        steps({type("watchdogDelaySpinBox", "300"), focus("watchdogStrobeSpinBox")}),
        {ram(P::WatchdogDelay, 3000), ram(P::WatchdogDelay, 3000)});
    row("arrow alone", WatchdogTab, "", press("watchdogDelaySpinBox", Qt::Key_Up), {});
    // 1.3 in single precision lies just below the tenth.
    row("strobe 1.3", WatchdogTab, "", type("watchdogStrobeSpinBox", "1.3"), {ram(P::WatchdogStrobe, 13)});
    row("serve", WatchdogTab, "", click("serveWatchdogButton"), {action(sim::Action::ServeWatchdog)});
    row("reset pin", WatchdogTab, "", click("resetWatchdogButton"), {action(sim::Action::ResetWatchdogPin)});
    row("Watchdog save, sources 0xF1", WatchdogTab, "ram.watchdog_mode=1 ram.watchdog_sources=0xf1", saveWatchdog,
        {flash(P::WatchdogMode, 1), flash(P::WatchdogDelay, 1200), flash(P::WatchdogStrobe, 100),
         flash(P::WatchdogSources, 0x01)},
        "Reset System, 120.0 s, 10.0 s, 01");
    row("mode above 2, delay", WatchdogTab, "ram.watchdog_mode=3", type("watchdogDelaySpinBox", "300"),
        {ram(P::WatchdogDelay, 3000)});
    row("Watchdog save, mode above 2", WatchdogTab, "ram.watchdog_mode=3", saveWatchdog,
        {flash(P::WatchdogDelay, 1200), flash(P::WatchdogStrobe, 100), flash(P::WatchdogSources, 0x03)});

    // The bridge and booster boxes show one bit: each click sets the other
    // box to the opposite state and writes once. Boot mode 3 has no item: it
    // is written back as read until one is chosen.
    const QString power = "ram.power_settings=";
    const Step savePower = click("savePowerSettingsButton");
    row("Power, 0x16", PowerTab, power + "0x16", {}, {}, "Always Start, 1001");
    row("Power, boot mode 3", PowerTab, power + "0x0b", {}, {}, ", 0110");
    row("Power, demo", PowerTab, "demo " + power + "0x1f", {}, {}, "Auto, 0010");
    row("0x16, temperature box", PowerTab, power + "0x16", click("restartAfterTempFailureCheckBox"),
        {ram(P::PowerSettings, 0x1E)});
    row("0xE5, save", PowerTab, power + "0xe5", savePower, {flash(P::PowerSettings, 0x05)}, "Wait For Button, 1010");
    row("Wait For Button", PowerTab, power + "0x1c", press("bootModeCombo", Qt::Key_Down),
        {ram(P::PowerSettings, 0x1D)});
    row("bridge box", PowerTab, power + "0x10", click("disableUsbToSataBridgeCheckBox"), {ram(P::PowerSettings, 0)},
        "Auto, 0010");
    row("booster box", PowerTab, power + "0x00", click("enable5vBoosterCheckBox"), {ram(P::PowerSettings, 0x10)},
        "Auto, 0001");
    row("boot mode 3, power box", PowerTab, power + "0x03", click("restartAfterPowerFailureCheckBox"),
        {ram(P::PowerSettings, 0x07)});
    row("boot mode 3, save", PowerTab, power + "0x03", savePower, {flash(P::PowerSettings, 0x03)});
    row("boot mode 3, Auto chosen", PowerTab, power + "0x07", press("bootModeCombo", Qt::Key_Home),
        {ram(P::PowerSettings, 0x04)});
}

// The window opens on the factory state and the controller changes behind
// it, so the page shows what a fresh load reads. Every save ends with the
// box, and nothing else shows one.
void ControllerPagesTest::openAndStep()
{
    QFETCH(int, tab);
    QFETCH(QString, controller);
    QFETCH(Step, step);
    QFETCH(QStringList, sent);
    QFETCH(QString, page);

    auto window = openWindow();
    setController(controller);
    clearCalls();
    const QStringList load = openTab(window.get(), tab);
    QVERIFY2(!anyWrite(load), qPrintable(load.join(QLatin1Char(' '))));
    ModalBoxCatcher catcher;
    if (step)
        step(window.get());

    QCOMPARE(calls(), sent);
    const bool saved = !sent.filter(QRegularExpression("^0001")).isEmpty(); // a flash write
    QCOMPARE(boxes(catcher, window.get()), saved ? QStringList{savedToFlashBox} : QStringList{});
    if (!page.isEmpty())
        QCOMPARE(shown(window.get()), page);
}

QTEST_MAIN(ControllerPagesTest)
#include "tst_controller_pages.moc"
