// Beyond the registry calls: where the stand-in keeps the registry, for the
// programs that watch it or name it in their messages.
#pragma once

#include <string>

// VNKESTRIX_REGISTRY when set, otherwise the system store under /var/lib.
std::string registryStorePath();
