#include "guard_table.h"

#include "registry.h"

namespace {

RegistryKey openGuardKey()
{
    return Registry::instance().openKey(localMachineKey(), guardKeyPath, true);
}

} // namespace

GuardResult loadGuardTable(GuardTable &table)
{
    const RegistryKey key = openGuardKey();
    if (!key.isOpen())
        return GuardResult::KeyNotOpened;
    for (std::size_t i = 0; i < guardLineCount; ++i)
        key.readDword(guardValueNames[i], table.levels[i]);
    for (std::size_t i = 0; i < guardLineCount; ++i)
        key.readDword(guardActionNames[i], table.actions[i]);
    return GuardResult::Ok;
}

GuardResult saveGuardTable(const GuardTable &table)
{
    const RegistryKey key = openGuardKey();
    if (!key.isOpen())
        return GuardResult::KeyNotOpened;
    bool ok = true;
    for (std::size_t i = 0; i < guardLineCount; ++i) {
        ok = key.writeDword(guardValueNames[i], table.levels[i]) && ok;
    }
    for (std::size_t i = 0; i < guardLineCount; ++i) {
        ok = key.writeDword(guardActionNames[i], table.actions[i]) && ok;
    }
    return ok ? GuardResult::Ok : GuardResult::WriteFailed;
}
