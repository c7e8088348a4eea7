#include "about_dialog.h"

AboutDialog::AboutDialog(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    ui.setupUi(this);
    // The text's panel in the colours of an edit field of the current theme,
    // so that it stays readable under a dark one; links take the theme's
    // link colour.
    ui.label->setBackgroundRole(QPalette::Base);
    ui.label->setForegroundRole(QPalette::Text);
}

AboutDialog::~AboutDialog() = default;
