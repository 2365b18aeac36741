// A map the host saved, read back whatever its format: a .map, or (in builds
// with NIfTI support) a NIfTI-1 map, told apart by their content.
#pragma once

#include <string>

#include "host/formats/MapFile.h"

namespace corvantis {

// Throws DocumentError naming the file.
MapContents readSavedMap(const std::string& path);

} // namespace corvantis
