#pragma once

#include <QCoreApplication>
#include <QString>

// Texts the window shows from code, translated in the form's own context so
// that one translation file covers the form and the code.
inline QString uiText(const char *text)
{
    return QCoreApplication::translate("VnKestrixClass", text);
}
