#include "vnkestrix.h"

#include "about_dialog.h"
#include "maker_website.h"
#include "translated_text.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QTabWidget>
#include <QUrl>

namespace {

// The smallest size at which every page and the whole row of tab titles
// show without clipping. With scroll buttons the tab widget asks only for
// room for the arrows, so it is measured as if it had none.
QSize sizeShowingEveryPage(QMainWindow *window, QTabWidget *tabs)
{
    const bool scrollButtons = tabs->usesScrollButtons();
    const Qt::TextElideMode elideMode = tabs->elideMode();
    tabs->setUsesScrollButtons(false);
    tabs->setElideMode(Qt::ElideNone);
    const QSize needed = window->minimumSizeHint();
    tabs->setUsesScrollButtons(scrollButtons);
    tabs->setElideMode(elideMode);
    return needed;
}

} // namespace

VnKestrix::VnKestrix(QWidget *parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags)
{
    // setupUi ends by selecting the Misc tab, whose dispatch loads that page.
    ui.setupUi(this);
    loadGpioSettings();
    loadGuardSettings();
    // With common desktop fonts the form's 375 x 517 cuts off the GPIO rows'
    // buttons and scrolls tab titles out of sight, so the window opens as
    // large as its pages need (measured after the loads, whose texts count
    // too). The user can still shrink it to the form's minimum. Measuring
    // costs start-up nothing: the tab widget asks every page, shown or not,
    // for its size when the window is shown, and gets the answers kept here.
    resize(size().expandedTo(sizeShowingEveryPage(this, ui.mainTab)));
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
