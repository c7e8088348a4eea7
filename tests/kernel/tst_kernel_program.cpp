// The unchanged vnkestrix binary, offscreen, against the virtual controller
// in the test VM: it must find the controller through libredi and hidraw,
// show what the controller holds on the Misc and GPIO pages, and save the
// Misc page to flash when its save button is pressed. The button is pressed
// by the preloaded program driver (program_driver.cpp); the device's log
// shows what reached it.
#include "virtual_controller.h"

#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <link.h>

#include <cstring>

namespace {

// A sanitized build needs its runtime to be the first library loaded, ahead
// of the preloaded driver; take it from this process, built the same way.
QString sanitizerRuntime()
{
    QString path;
#if defined(__SANITIZE_ADDRESS__)
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *out) {
            if (info->dlpi_name && std::strstr(info->dlpi_name, "/libasan.so")) {
                *static_cast<QString *>(out) = QString::fromLocal8Bit(info->dlpi_name);
                return 1;
            }
            return 0;
        },
        &path);
#endif
    return path;
}

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
            if (values.value(QString::asprintf(rowPattern, line)) == QLatin1String("1"))
                bits |= 1 << line;
        return QString::asprintf("%02x", bits);
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(device.start({"--serial", "KSTRX-042", "report_mode=1", "sample_rate=250", "s3_mode=1",
                               "gpio_direction=0x5a", "gpio_output_mode=0x0f", "gpio_standby_mode=0x81"},
                              error),
                 qPrintable(error));

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        QStringList preload{QStringLiteral(VNK_PROGRAM_DRIVER)};
        if (const QString runtime = sanitizerRuntime(); !runtime.isEmpty())
            preload.prepend(runtime);
        env.insert("LD_PRELOAD", preload.join(QLatin1Char(':')));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("VNKESTRIX_REGISTRY", home.filePath("registry.sqlite3"));
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(VNK_PROGRAM), {});
        QVERIFY2(program.waitForStarted(10000), qPrintable(program.errorString()));
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

    void programEndsByItself()
    {
        QCOMPARE(exitStatus, QProcess::NormalExit);
        QCOMPARE(exitCode, 0);
        QVERIFY2(!driverSaid.contains(QStringLiteral("no main window")), "the main window never came");
    }

    void pagesShowTheControllerValues_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("expected");
        QTest::newRow("serial number") << values.value("serialEdit") << "KSTRX-042";
        QTest::newRow("report mode") << values.value("reportModeCombo") << "1";
        QTest::newRow("sampling rate") << values.value("samplingRateSpinBox") << "250";
        QTest::newRow("S3 mode") << values.value("s3SignalizationModeCombo") << "1";
        QTest::newRow("GPIO direction") << gpioBits("gpioDirection%dCheckBox") << "5a";
        QTest::newRow("GPIO output mode") << gpioBits("gpioOutputMode%dCheckBox") << "0f";
        QTest::newRow("GPIO standby mode") << gpioBits("gpioStanbdyMode%dCheckBox") << "81";
    }

    void pagesShowTheControllerValues()
    {
        QFETCH(QString, shown);
        QFETCH(QString, expected);
        QCOMPARE(shown, expected);
    }

    // Start-up loads the Misc page, then the GPIO page; the save sends the
    // Misc page's three values to flash. Nothing else may reach the device.
    void deviceSawTheLoadsAndTheSave()
    {
        const auto get = [](const char *request, const char *reply) {
            return QStringList{
                QStringLiteral("set-feature %1 ok").arg(VirtualController::reportHex(request)),
                QStringLiteral("get-feature %1 ok").arg(VirtualController::reportHex(reply))};
        };
        const auto set = [](const char *request) {
            return QStringLiteral("set-feature %1 ok").arg(VirtualController::reportHex(request));
        };
        const QStringList expected = get("0001000100", "000001")      // report mode
                                     + get("0001000201", "0000fa00")  // sample rate
                                     + get("0001000104", "000001")    // S3 mode
                                     + get("0001000101", "00005a")    // GPIO direction
                                     + get("0001000102", "00000f")    // GPIO output mode
                                     + get("0001000103", "000081")    // GPIO standby mode
                                     + QStringList{set("00000101000001"), set("000001020100fa00"),
                                                   set("00000101040001")};
        QCOMPARE(deviceSaw, expected);
    }

    void saveEndsWithTheInformationBox()
    {
        QCOMPARE(driverSaid.filter(QRegularExpression("^(click|box) ")),
                 QStringList({"click saveMiscSettingsButton",
                              "box Information | Your settings were successfully saved in flash memory."}));
    }
};

QTEST_GUILESS_MAIN(KernelProgramTest)
#include "tst_kernel_program.moc"
