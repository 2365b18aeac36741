// The process-wide table of host entry points, filled by name from the already
// loaded host executable. This table is the plug-in's one piece of global state.
#pragma once

#include <functional>

#include "plugin/HostServiceNames.h"

namespace cvts {

using HostEntry = void (*)();

enum class HostService : int {
#define CVTS_CALLED_ENUM_ENTRY(name, ...) name,
#define CVTS_STORED_ENUM_ENTRY(name) name,
    CVTS_HOST_SERVICES(CVTS_CALLED_ENUM_ENTRY, CVTS_STORED_ENUM_ENTRY)
#undef CVTS_STORED_ENUM_ENTRY
#undef CVTS_CALLED_ENUM_ENTRY
        Count
};

constexpr int kHostServiceCount = static_cast<int>(HostService::Count);
static_assert(kHostServiceCount == 190, "the host kit names 190 services");

// The module the services come from.
constexpr const char kHostModuleName[] = "Corvantis.exe";

// Name of the service at that position of the table.
const char* hostServiceName(HostService service);

// Current entry; null before the first fill or when the host lacks the name.
HostEntry hostServiceEntry(HostService service);

// For hosts assembled in tests: overwrite one entry.
void setHostServiceEntry(HostService service, HostEntry entry);

// Fills the table from the loaded module "Corvantis.exe". False (table untouched)
// when the module is not loaded; false (other entries untouched) when it lacks
// cvGetVersionOfCorvantis.
bool fillHostServiceTable();

// The fill rules over any name lookup: cvGetVersionOfCorvantis first (a null
// result ends the fill with false), then every other name once, in table order.
using ExportLookup = std::function<HostEntry(const char* name)>;
bool fillHostServiceTableFrom(const ExportLookup& lookUp);

// The host version test: (major, minor, revision) at least (2, 8, 0).
bool hostVersionPasses(int major, int minor, int revision);

} // namespace cvts
