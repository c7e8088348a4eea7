#include "controller_list.h"

#include "redi.h"
#include "redi_extension.h"

#include <cstring>

namespace {

std::string text(const char *field, std::size_t size)
{
    return std::string(field, strnlen(field, size));
}

} // namespace

Listing listControllers(std::vector<AttachedController> &controllers)
{
    const auto enumerate = rediExtension<RediEnumerateControllersFunction>(REDI_ENUMERATE_SYMBOL);
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
