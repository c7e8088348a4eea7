#include "controller_list.h"

#include "redi.h"

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// The library is already loaded (the program links it), so the lookup only
// asks whether it exports the listing.
RediEnumerateControllersFunction enumerateFunction()
{
#if defined(_WIN32)
    // The vendor's name, and MinGW's for a library built here.
    for (const char *name : {"redi.dll", "libredi.dll"}) {
        if (const HMODULE library = GetModuleHandleA(name))
            return reinterpret_cast<RediEnumerateControllersFunction>(
                reinterpret_cast<void *>(GetProcAddress(library, REDI_ENUMERATE_SYMBOL)));
    }
    return nullptr;
#else
    return reinterpret_cast<RediEnumerateControllersFunction>(
        dlsym(RTLD_DEFAULT, REDI_ENUMERATE_SYMBOL));
#endif
}

std::string text(const char *field, std::size_t size)
{
    return std::string(field, strnlen(field, size));
}

} // namespace

Listing listControllers(std::vector<AttachedController> &controllers)
{
    const RediEnumerateControllersFunction enumerate = enumerateFunction();
    if (!enumerate)
        return Listing::NotSupported;
    // A controller may come between counting and listing: ask until the
    // list holds them all.
    std::vector<RediControllerInfo> infos;
    int count = enumerate(nullptr, 0);
    while (count > static_cast<int>(infos.size())) {
        infos.resize(static_cast<std::size_t>(count));
        count = enumerate(infos.data(), count);
    }
    if (count < 0)
        return Listing::Failed;
    controllers.clear();
    for (int i = 0; i < count; ++i) {
        const RediControllerInfo &info = infos[static_cast<std::size_t>(i)];
        controllers.push_back(
            {text(info.deviceName, sizeof info.deviceName),
             static_cast<std::uint16_t>(info.releaseNumber[0] | (info.releaseNumber[1] << 8)),
             text(info.serialNumber, sizeof info.serialNumber), info.openError});
    }
    return Listing::Listed;
}
