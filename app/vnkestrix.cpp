#include "vnkestrix.h"

#include "about_dialog.h"
#include "maker_website.h"
#include "translated_text.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

VnKestrix::VnKestrix(QWidget *parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags)
{
    // setupUi ends by selecting the Misc tab, whose dispatch loads that page.
    ui.setupUi(this);
    loadGpioSettings();
    loadGuardSettings();
}

VnKestrix::~VnKestrix() = default;

void VnKestrix::onActionQuit()
{
    close();
}

void VnKestrix::onActionVisitVantrelWebsite()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(makerWebsite)));
}

void VnKestrix::onAbout()
{
    AboutDialog dialog(nullptr, Qt::WindowFlags{});
    dialog.exec();
}

void VnKestrix::onTabChange(int tab)
{
    switch (tab) {
    case 0:
        loadGpioSettings();
        break;
    case 1:
        loadWatchdogSettings();
        break;
    case 2:
        loadPowerSettings();
        break;
    case 3:
        // The Guard page keeps what was loaded at start-up or edited since.
        break;
    case 4:
        loadMiscSettings();
        break;
    default:
        qFatal("Unknown tab was opened (index = %d", tab);
    }
}

void VnKestrix::showSavedToFlash()
{
    QMessageBox::information(this, uiText("Information"),
                             uiText("Your settings were successfully saved in flash memory."));
}
