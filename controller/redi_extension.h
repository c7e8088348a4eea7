// The HID library's entry points beyond the four functions. The vendor's
// library has none of them, so each is looked up at run time and its absence
// is an answer, not an error.
#pragma once

#include "redi.h"

// The library is already loaded (the program links it): the lookup only
// asks whether it exports `symbol`. Null when it does not.
void *rediSymbol(const char *symbol);

template <typename Function>
Function rediExtension(const char *symbol)
{
    return reinterpret_cast<Function>(rediSymbol(symbol));
}

// The wait for the controller's next input report; null with a library that
// cannot wait for one, whose caller has to ask for the current report instead.
inline RediReadInputReportFunction rediReadInputReport()
{
    return rediExtension<RediReadInputReportFunction>(REDI_READ_INPUT_SYMBOL);
}
