#include "about_dialog.h"

AboutDialog::AboutDialog(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    ui.setupUi(this);
}

AboutDialog::~AboutDialog() = default;
