#include "vnkestrix.h"

#include "about_dialog.h"
#include "controller_link.h"
#include "maker_website.h"
#include "translated_text.h"

#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QStatusBar>
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

// Demo mode sends nothing and shows made-up values; a lasting note in the
// status bar keeps them from being taken for a board's.
void showDemoMode(QMainWindow *window)
{
    auto *label = new QLabel(uiText("Demo mode: no controller is used."));
    label->setObjectName(QStringLiteral("demoModeLabel"));
    window->statusBar()->addPermanentWidget(label, 1);
}

} // namespace

VnKestrix::VnKestrix(QWidget *parent, Qt::WindowFlags flags)
    : QMainWindow(parent, flags)
{
    // setupUi ends by selecting the Misc tab, whose dispatch loads that page.
    ui.setupUi(this);
    loadGpioSettings();
    loadGuardSettings();
    if (isDemoMode())
        showDemoMode(this);
    // With common desktop fonts the form's 375 x 517 cuts off the GPIO rows'
    // buttons and scrolls tab titles out of sight, so the window opens as
    // large as its pages need (measured after the loads, whose texts count
    // too), and cannot be made smaller than that. Measuring costs start-up
    // nothing: the tab widget asks every page, shown or not, for its size
    // when the window is shown, and gets the answers kept here.
    const QSize needed = sizeShowingEveryPage(this, ui.mainTab);
    setMinimumSize(minimumSize().expandedTo(needed));
    resize(size().expandedTo(needed));
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
