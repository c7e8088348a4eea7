// The Windows registry calls: advapi32's own on Windows, the SQLite-backed
// stand-in with the same names and types elsewhere.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "winreg.h"
#endif
