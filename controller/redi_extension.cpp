#include "redi_extension.h"

#if defined(_WIN32)
#include <windows.h>

#include <initializer_list>
#else
#include <dlfcn.h>
#endif

void *rediSymbol(const char *symbol)
{
#if defined(_WIN32)
    // The vendor's name, and MinGW's for a library built here.
    for (const char *name : {"redi.dll", "libredi.dll"}) {
        if (const HMODULE library = GetModuleHandleA(name))
            return reinterpret_cast<void *>(GetProcAddress(library, symbol));
    }
    return nullptr;
#else
    return dlsym(RTLD_DEFAULT, symbol);
#endif
}
