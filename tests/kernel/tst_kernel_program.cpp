// The unchanged vnkestrix binary, offscreen, against the virtual controller
// in the test VM: it must find the controller through libredi and hidraw,
// show what the controller holds on the Misc and GPIO pages, and save the
// Misc page to flash when its save button is pressed, although the board was
// unplugged and plugged in again (a new hidraw node) between the loads and
// the save. The controller's serial number is longer than the field's nine
// characters: it shows whole, and Return on it writes nothing. The button is pressed by the preloaded program driver
// (program_driver.cpp), the program held for the re-plug by exchange_pause.cpp;
// the device's log shows what reached it.
#include "virtual_controller.h"

#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>


namespace {

using P = sim::Param;

// What the controller holds, in the order the program loads it: the Misc
// page at start-up, then the GPIO page.
const std::pair<sim::Param, unsigned> held[] = {
    {P::ReportMode, 1},       {P::SampleRate, 250},      {P::S3Mode, 1},
    {P::GpioDirection, 0x5a}, {P::GpioOutputMode, 0x0f}, {P::GpioStandbyMode, 0x81},
};

} // namespace

class KernelProgramTest : public QObject
{
    Q_OBJECT

    VirtualController device;
    QTemporaryDir home;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QStringList driverSaid;
    QMap<QString, QString> values; // objectName -> value the driver read
    QStringList deviceSaw;

    QString gpioBits(const char *rowPattern) const
    {
        int bits = 0;
        for (int line = 0; line < 8; ++line)
            if (values.value(QString::asprintf(rowPattern, line)) == QLatin1String("true"))
                bits |= 1 << line;
        return QString::asprintf("%02x", bits);
    }

private slots:
    void initTestCase()
    {
        sim::FirmwareModel firmware;
        firmware.serial = "ABCDEFGHIJKL"; // 12 characters, as a USB string may have
        for (const auto &[param, value] : held)
            firmware.value(sim::Bank::Ram, param) = static_cast<std::uint16_t>(value);
        QString error;
        QVERIFY2(device.start(firmware, 0x0123, error), qPrintable(error));

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_PRELOAD", preloadList({VNK_PROGRAM_DRIVER, VNK_EXCHANGE_PAUSE}));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VNKESTRIX_REGISTRY", home.filePath("registry.sqlite3"));
        // Held before the save's first write, after the six loads.
        env.insert("VNK_PAUSE_FILE", home.filePath("pause"));
        env.insert("VNK_PAUSE_AT", QString::number(std::size(held) + 1));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(VNK_PROGRAM), {});
        QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));
        QVERIFY2(replugAtPause(device, home.filePath("pause"), error), qPrintable(error));
        QVERIFY2(program.waitForFinished(150000), "the program did not end within 150 s");
        exitCode = program.exitCode();
        exitStatus = program.exitStatus();

        const QString errors = QString::fromLocal8Bit(program.readAllStandardError());
        for (const QString &line : errors.split(QLatin1Char('\n'))) {
            if (!line.startsWith(QLatin1String("driver: ")))
                continue;
            driverSaid << line.mid(8);
            const QStringList words = line.split(QLatin1Char(' '));
            if (words.size() >= 3 && words[1] == QLatin1String("value"))
                values.insert(words[2], words.mid(3).join(QLatin1Char(' ')));
        }
        deviceSaw = device.takeLines();
        if (exitStatus != QProcess::NormalExit || exitCode != 0)
            qWarning("program stderr:\n%s", qPrintable(errors));
    }

    void cleanupTestCase() { device.stop(); }

    // The driver clicked the save button, the box came, and the program
    // ended by itself when the window closed.
    void programSavesAndEnds()
    {
        QVERIFY2(!driverSaid.contains(QStringLiteral("no main window")), "the main window never came");
        QCOMPARE(driverSaid.filter(QRegularExpression("^(key|click|box) ")),
                 QStringList({"key serialEdit Return", "click saveMiscSettingsButton",
                              "box Information | Your settings were successfully saved in flash memory."}));
        QCOMPARE(exitStatus, QProcess::NormalExit);
        QCOMPARE(exitCode, 0);
    }

    // Misc, then GPIO, in the order of `held`.
    void pagesShowTheControllerValues()
    {
        const QStringList shown = {values.value("firmwareRevisionLabel"),
                                   values.value("serialEdit"),
                                   values.value("reportModeCombo"),
                                   values.value("samplingRateSpinBox"),
                                   values.value("s3SignalizationModeCombo"),
                                   gpioBits("gpioDirection%dCheckBox"),
                                   gpioBits("gpioOutputMode%dCheckBox"),
                                   gpioBits("gpioStanbdyMode%dCheckBox")};
        QCOMPARE(shown, QStringList({"Firmware revision: 1.23", "ABCDEFGHIJKL", "1", "250", "1", "5a", "0f", "81"}));
    }

    // Start-up loads the Misc page, then the GPIO page; the save sends the
    // Misc page's three values to flash. Nothing else may reach the device.
    void deviceSawTheLoadsAndTheSave()
    {
        QStringList expected;
        for (const auto &[param, value] : held)
            expected << deviceLine("set-feature", requestHex(1, 0, sim::info(param).length, sim::info(param).index))
                     << deviceLine("get-feature", "0000" + valueHex(value, sim::info(param).length));
        for (const auto &[param, value] : {held[0], held[1], held[2]})
            expected << deviceLine("set-feature", requestHex(0, 1, sim::info(param).length, sim::info(param).index, value));
        QCOMPARE(deviceSaw, expected);
    }
};

QTEST_GUILESS_MAIN(KernelProgramTest)
#include "tst_kernel_program.moc"
