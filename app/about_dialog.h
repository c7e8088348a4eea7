// Help > About: the banner, the program's name and version, the licence
// notice and the maker's website.
#pragma once

#include "ui_aboutdialog.h"

#include <QDialog>

class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    explicit AboutDialog(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags{});
    ~AboutDialog() override;

private:
    Ui_AboutDialog ui;
};
