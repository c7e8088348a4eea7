// Help text laid out for whoever reads it: lines broken at the terminal's
// width, or at 80 columns when the output goes to a file or a pipe.
#pragma once

#include <QString>

// The columns of the terminal on stdout; 80 when it is not one.
int helpWidth();

// Each line broken at spaces to at most `width` columns. A continuation
// lines up with the text after the first gap of two spaces in an indented
// line ("  list     Every ..."), else two columns in from the line's indent.
QString wrapped(const QString &text, int width);
