/* hidapi's Windows back end, compiled into redi.dll without exporting its
   functions: hidapi.h marks them for export on _WIN32 alone, and redi.dll
   exports only the four functions of redi.h. */
#include <wchar.h>
#undef _WIN32
#include "hidapi.h"
#define _WIN32 1
#include "windows/hid.c"
