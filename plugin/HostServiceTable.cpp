#include "plugin/HostServiceTable.h"

#include <array>

#include "plugin/ModuleLookup.h"

namespace cvts {

namespace {

constexpr std::array<const char*, kHostServiceCount> kNames = {
#define CVTS_CALLED_NAME_ENTRY(name, ...) #name,
#define CVTS_STORED_NAME_ENTRY(name) #name,
    CVTS_HOST_SERVICES(CVTS_CALLED_NAME_ENTRY, CVTS_STORED_NAME_ENTRY)
#undef CVTS_STORED_NAME_ENTRY
#undef CVTS_CALLED_NAME_ENTRY
};

// All null until the first fill (static initialisation, nothing runs at load).
std::array<HostEntry, kHostServiceCount> table{};

std::size_t indexOf(HostService service) { return static_cast<std::size_t>(service); }

} // namespace

const char* hostServiceName(HostService service) { return kNames[indexOf(service)]; }

HostEntry hostServiceEntry(HostService service) { return table[indexOf(service)]; }

void setHostServiceEntry(HostService service, HostEntry entry) { table[indexOf(service)] = entry; }

bool fillHostServiceTableFrom(const ExportLookup& lookUp) {
    const std::size_t version = indexOf(HostService::cvGetVersionOfCorvantis);
    table[version] = lookUp(kNames[version]);
    if (table[version] == nullptr) {
        return false;
    }
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (i != version) {
            table[i] = lookUp(kNames[i]);
        }
    }
    return true;
}

bool fillHostServiceTable() {
    const ModuleHandle module = findLoadedModule(kHostModuleName);
    if (module == nullptr) {
        return false;
    }
    const bool filled = fillHostServiceTableFrom([module](const char* name) { return findExport(module, name); });
    releaseModule(module);
    return filled;
}

bool hostVersionPasses(int major, int minor, int revision) {
    if (major != 2) {
        return major > 2;
    }
    if (minor != 8) {
        return minor > 8;
    }
    return revision >= 0;
}

} // namespace cvts
