// The main window: the frame, the tab dispatch and the menu commands. The
// pages' loads and slots are members too; they live in pages/.
#pragma once

#include "feature_report.h"
#include "guard_table.h"
#include "ui_vnkestrixclass.h"

#include <QMainWindow>
#include <QString>

#include <optional>

class QCheckBox;

class VnKestrix : public QMainWindow
{
    Q_OBJECT

public:
    explicit VnKestrix(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags{});
    ~VnKestrix() override;

private slots:
    void onActionQuit();
    void onActionVisitVantrelWebsite();
    void onAbout();
    void onTabChange(int tab);
    void onReportModeChange(int reportMode);
    void onSamplingRateChange();
    void onS3SignalizationModeChange(int sigMode);
    void onSerialChange();
    void onResetThrmPinButtonClicked();
    void onSaveMiscSettingsClicked();
    void onBootModeChanged(int bootMode);
    void onRestartAfterPowerFailureChecked(int state);
    void onRestartAfterTempFailureChecked(int state);
    void onDisableSataToUsbBridgeCheck(int state);
    void onEnable5VBoosterCheck(int state);
    void onSavePowerSettingsClicked();
    void onWatchDogModeChange(int state);
    void onWatchDogDelayChange();
    void onWatchDogStrobeChange();
    void onWatchDogSourceChange();
    void onServeWatchdogButton();
    void onResetWatchdogButton();
    void onSaveWatchdogSettingsButton();
    void onGpioDirectionChange(int);
    void onGpioOutputModeChange(int);
    void onGpioStandbyModeChange(int);
    void onSaveGpioSettingsButton();
    void onWriteGpioButton();
    void onReadGpioButton();
    void onSaveGuardSettings();

private:
    void loadGpioSettings();
    void loadWatchdogSettings();
    void loadPowerSettings();
    void loadMiscSettings();
    void loadGuardSettings();
    void saveGuardSettings();
    void writePowerSettings(Target target);
    std::uint8_t watchdogSourcesFromCheckBoxes() const;
    void showSavedToFlash();
    void showSerialNumber(const QString &text);

    Ui_VnKestrixClass ui;

    // The serial number this window last read from the controller itself or
    // wrote to it, if any, so that an edit is written to flash only when it
    // changes something. A number from the system's plug-in record may be
    // stale and is not kept here: it proves nothing about flash.
    std::optional<QString> knownSerialNumber;
    // What the program last put into the serial field, for undoing a
    // refused edit.
    QString shownSerialNumber;
    // What was last read for widgets that cannot show every value the
    // controller or the store may hold (a boot mode of 3, a guard number that
    // is no combo item); a later write keeps such a value as it was.
    std::uint8_t loadedPowerSettings = 0;
    GuardTable loadedGuardTable;
};
